#!/usr/bin/python3
"""A real aiosmtpd server for the tests, on a loopback port chosen by the system.

Prints "PORT <n>" on stdout once it listens. Every message is stored in the spool folder
as NNNNN.eml (the DATA bytes as aiosmtpd received them, dot-stuffing removed) and then
NNNNN.json (envelope: mail_from, rcpt_tos, auth_user, tls); the .json file appears last,
atomically, so a reader never sees half a message.
"""
import argparse
import asyncio
import json
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Spool:
    def __init__(self, folder):
        self.folder = folder
        # A server started again on the same spool numbers on after what it stored before.
        self.count = len([f for f in os.listdir(folder) if f.endswith(".json")])

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "%05d" % self.count)
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content)
        user = session.auth_data.decode("utf-8", "replace") if session.authenticated else None
        meta = {
            "mail_from": envelope.mail_from,
            "mail_options": envelope.mail_options,
            "rcpt_tos": envelope.rcpt_tos,
            "auth_user": user,
            "tls": session.ssl is not None or server.transport.get_extra_info("ssl_object") is not None,
        }
        with open(base + ".json.tmp", "w") as f:
            json.dump(meta, f)
        os.replace(base + ".json.tmp", base + ".json")
        return "250 OK stored"


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--spool", required=True)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--hostname", default="aiosmtpd.test")
    p.add_argument("--user")
    p.add_argument("--password")
    p.add_argument("--mechanisms", default="", help="space separated AUTH mechanisms to offer")
    p.add_argument("--tls", choices=["none", "starttls", "implicit"], default="none")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--size-limit", type=int, help="the SIZE announced and enforced")
    p.add_argument("--smtputf8", action="store_true", help="offer SMTPUTF8 (RFC 6531)")
    a = p.parse_args()

    context = None
    if a.tls != "none":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(a.cert, a.key)

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == a.user.encode() and auth_data.password == a.password.encode())
        # handled=False makes aiosmtpd answer a failure with 535 itself.
        return AuthResult(success=ok, handled=False, auth_data=auth_data.login if ok else None)

    spool = Spool(a.spool)

    def factory():
        kwargs = dict(hostname=a.hostname, timeout=30, enable_SMTPUTF8=a.smtputf8)
        if a.size_limit is not None:
            kwargs["data_size_limit"] = a.size_limit
        if a.user is not None:
            kwargs.update(auth_required=True, authenticator=authenticator)
            if a.mechanisms:
                offered = set(a.mechanisms.split())
                kwargs["auth_exclude_mechanism"] = [m for m in ("LOGIN", "PLAIN") if m not in offered]
        if a.tls == "starttls":
            # AUTH only after the upgrade, which proves the client really encrypted.
            kwargs.update(tls_context=context, require_starttls=True)
        else:
            # aiosmtpd 1.4 does not count implicit TLS as TLS for AUTH, and plain tests need AUTH
            # over a plain connection.
            kwargs.update(auth_require_tls=False)
        return SMTP(spool, **kwargs)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        factory, host=a.host, port=a.port, ssl=context if a.tls == "implicit" else None))
    port = server.sockets[0].getsockname()[1]
    print("PORT %d" % port, flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    import warnings
    warnings.simplefilter("ignore")
    sys.exit(main())
