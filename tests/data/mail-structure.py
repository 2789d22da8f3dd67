#!/usr/bin/python3
"""Prints what a mail reader sees in a message file, one fact per line, so that tests can
check a message with a parser independent of the one that wrote it:

  header Name: decoded value        every header of the top level, in order
  to display name|address            each mailbox of To, then of Bcc ("bcc ...")
  part DEPTH type; charset=..; cid=..; disposition=..; filename=..; encoding=..
  text "decoded text"                after each text/* body part, as a Python literal
  data SIZE SHA256                   after each other leaf part, of its decoded bytes
  defect DESCRIPTION                 whatever the parser found wrong
"""
import hashlib
import sys
from email import policy
from email.parser import BytesParser

with open(sys.argv[1], 'rb') as f:
    message = BytesParser(policy=policy.default).parse(f)

for name, value in message.items():
    print(f'header {name}: {value}')
for field, tag in (('To', 'to'), ('Bcc', 'bcc')):
    header = message.get(field)
    if header is not None:
        for address in header.addresses:
            print(f'{tag} {address.display_name}|{address.addr_spec}')


def walk(part, depth):
    facts = [part.get_content_type()]
    charset = part.get_param('charset')
    if charset:
        facts.append(f'charset={charset.lower()}')
    if part.get_content_type() == 'multipart/related':
        facts.append(f'type={part.get_param("type")}')
    if part['Content-ID'] is not None:
        facts.append(f'cid={part["Content-ID"]}')
    if part.get_content_disposition():
        facts.append(f'disposition={part.get_content_disposition()}')
    if part.get_filename():
        facts.append(f'filename={part.get_filename()}')
    if not part.is_multipart():
        facts.append(f'encoding={part.get("Content-Transfer-Encoding", "7bit").lower()}')
    print(f'part {depth} ' + '; '.join(facts))
    for defect in part.defects:
        print(f'defect {type(defect).__name__}')
    if part.is_multipart():
        for child in part.iter_parts():
            walk(child, depth + 1)
    elif part.get_content_maintype() == 'text' and part.get_content_disposition() != 'attachment':
        print('text ' + repr(part.get_content()))
    else:
        data = part.get_payload(decode=True)
        print(f'data {len(data)} {hashlib.sha256(data).hexdigest()}')


walk(message, 0)
