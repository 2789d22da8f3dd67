#pragma once

// A delay line for benchmarks: a TCP proxy on 127.0.0.1 that holds every chunk of bytes for
// a fixed time in each direction before passing it on, as a network path with that one-way
// delay does, so a loopback server looks as far away as a real one (`tc netem` needs root
// and is not everywhere). Order and content are kept; bandwidth is not limited. Each
// connection gets two threads, one per direction.

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kolporta::bench {

class DelayLine
{
public:
    DelayLine(uint16_t targetPort, int oneWayDelayMs)
        : m_target(targetPort)
        , m_delay(std::chrono::milliseconds(oneWayDelayMs))
    { }
    ~DelayLine()
    {
        if (m_listen >= 0) {
            ::shutdown(m_listen, SHUT_RDWR);
            ::close(m_listen);
        }
        if (m_acceptor.joinable())
            m_acceptor.join();
    }
    DelayLine(const DelayLine &) = delete;
    DelayLine &operator=(const DelayLine &) = delete;

    // Listens on a free loopback port; false when that fails.
    bool start()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(0);
        socklen_t len = sizeof a;
        if (::bind(m_listen, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
            || ::listen(m_listen, 64) != 0
            || ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            return false;
        m_port = ntohs(a.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
        return true;
    }
    uint16_t port() const { return m_port; }

private:
    using Clock = std::chrono::steady_clock;

    // Both ends of one proxied connection, closed when both directions have finished.
    struct Link
    {
        int client = -1;
        int server = -1;
        ~Link()
        {
            ::close(client);
            ::close(server);
        }
    };

    static sockaddr_in loopback(uint16_t port)
    {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        return a;
    }

    static void noDelay(int fd)
    {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }

    void acceptLoop()
    {
        for (;;) {
            const int client = ::accept(m_listen, nullptr, nullptr);
            if (client < 0)
                return;
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a = loopback(m_target);
            if (::connect(server, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
                ::close(server);
                ::close(client);
                continue;
            }
            noDelay(client);
            noDelay(server);
            auto link = std::make_shared<Link>();
            link->client = client;
            link->server = server;
            const auto delay = m_delay;
            std::thread([delay, link] { pump(link->client, link->server, delay); }).detach();
            std::thread([delay, link] { pump(link->server, link->client, delay); }).detach();
        }
    }

    // Reads from `from`, and writes each chunk to `to` once it is `delay` old.
    static void pump(int from, int to, std::chrono::milliseconds delay)
    {
        struct Chunk
        {
            Clock::time_point due;
            std::string bytes;
        };
        std::deque<Chunk> queue;
        bool ended = false;
        char buffer[64 * 1024];
        for (;;) {
            if (ended && queue.empty())
                break;
            int timeout = -1;
            if (!queue.empty()) {
                const auto left = queue.front().due - Clock::now();
                timeout = int(std::max<int64_t>(
                    0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
            }
            pollfd p = {from, short(ended ? 0 : POLLIN), 0};
            if (::poll(&p, 1, timeout) > 0 && !ended) {
                const ssize_t n = ::read(from, buffer, sizeof buffer);
                if (n <= 0)
                    ended = true;
                else
                    queue.push_back({Clock::now() + delay, std::string(buffer, size_t(n))});
            }
            const auto now = Clock::now();
            while (!queue.empty() && queue.front().due <= now) {
                const std::string &bytes = queue.front().bytes;
                for (size_t done = 0; done < bytes.size();) {
                    const ssize_t n = ::write(to, bytes.data() + done, bytes.size() - done);
                    if (n <= 0) {
                        queue.clear();
                        ended = true;
                        break;
                    }
                    done += size_t(n);
                }
                if (!queue.empty())
                    queue.pop_front();
            }
        }
        ::shutdown(to, SHUT_WR);
    }

    uint16_t m_target;
    std::chrono::milliseconds m_delay;
    int m_listen = -1;
    uint16_t m_port = 0;
    std::thread m_acceptor;
};

} // namespace kolporta::bench
