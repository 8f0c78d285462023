#include "connections.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace connections {
namespace {

// Waits happen in slices so that a stopping server is noticed promptly.
constexpr std::chrono::milliseconds waitSlice{100};
// One read or write may take this long once the head is in (bodies are at most 64 KiB).
constexpr std::chrono::seconds transferTimeout{10};

// A socket read through a buffer. While a request head is expected, reads fail once its deadline has
// passed; the blank line that ends the head lifts the deadline.
class SocketStream final : public httplib::Stream {
public:
    SocketStream(socket_t sock, const std::atomic<socket_t> &listener) : m_sock(sock), m_listener(listener) {}

    // The next bytes start a request head that must be complete by `deadline`.
    void expectHead(Clock::time_point deadline)
    {
        m_headDeadline = deadline;
        m_inHead = true;
        m_headTimedOut = false;
        m_lineLength = 0;
        m_lines = 0;
    }
    // A read failed while the head was still expected.
    bool headTimedOut() const { return m_headTimedOut; }
    bool hasBuffered() const { return m_begin < m_end; }

    // Data arrives (or is buffered) before `deadline`.
    bool waitForData(Clock::time_point deadline) const { return hasBuffered() || wait(POLLIN, deadline); }

    bool is_readable() const override { return waitForData(readDeadline()); }
    bool is_writable() const override { return wait(POLLOUT, Clock::now() + transferTimeout); }

    ssize_t read(char *ptr, size_t size) override
    {
        if (!hasBuffered()) {
            if (!wait(POLLIN, readDeadline())) {
                m_headTimedOut = m_inHead; // or stopping: either way the connection ends
                return -1;
            }
            const ssize_t n = ::recv(m_sock, m_buffer, sizeof m_buffer, 0);
            if (n <= 0)
                return n;
            m_begin = 0;
            m_end = std::size_t(n);
        }
        const std::size_t count = std::min(size, m_end - m_begin);
        std::memcpy(ptr, m_buffer + m_begin, count);
        m_begin += count;
        if (m_inHead)
            watchHead(ptr, count);
        return ssize_t(count);
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        if (!is_writable())
            return -1;
        return ::send(m_sock, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override { address(::getpeername, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { address(::getsockname, ip, port); }
    socket_t socket() const override { return m_sock; }

private:
    Clock::time_point readDeadline() const
    {
        const auto usual = Clock::now() + transferTimeout;
        return m_inHead ? std::min(usual, m_headDeadline) : usual;
    }

    bool wait(short events, Clock::time_point deadline) const
    {
        while (m_listener != INVALID_SOCKET) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            pollfd fd{m_sock, events, 0};
            const int ready = ::poll(&fd, 1, int(std::min(left, waitSlice).count()));
            if (ready > 0)
                return true;
            if (ready < 0 && errno != EINTR)
                return false;
        }
        return false;
    }

    // An empty line after at least one line ends the head ("\r\n" or a bare "\n").
    void watchHead(const char *bytes, std::size_t count)
    {
        for (std::size_t i = 0; i < count && m_inHead; ++i) {
            if (bytes[i] == '\n') {
                if (m_lineLength == 0 && m_lines > 0)
                    m_inHead = false;
                ++m_lines;
                m_lineLength = 0;
            } else if (bytes[i] != '\r') {
                ++m_lineLength;
            }
        }
    }

    template <typename Query>
    void address(Query query, std::string &ip, int &port) const
    {
        sockaddr_storage storage{};
        socklen_t length = sizeof storage;
        ip.clear();
        port = 0;
        if (query(m_sock, reinterpret_cast<sockaddr *>(&storage), &length) != 0)
            return;
        char text[INET6_ADDRSTRLEN] = {};
        if (storage.ss_family == AF_INET) {
            const auto *v4 = reinterpret_cast<const sockaddr_in *>(&storage);
            ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
            port = ntohs(v4->sin_port);
        } else if (storage.ss_family == AF_INET6) {
            const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(&storage);
            ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
            port = ntohs(v6->sin6_port);
        }
        ip = text;
    }

    socket_t m_sock;
    const std::atomic<socket_t> &m_listener; // INVALID_SOCKET once the server stops
    char m_buffer[4096];
    std::size_t m_begin = 0, m_end = 0;
    Clock::time_point m_headDeadline;
    bool m_inHead = false;
    bool m_headTimedOut = false;
    std::size_t m_lineLength = 0, m_lines = 0;
};

class PlainServer final : public httplib::Server {
    // Replaces the library's loop, which waits for a head only as long as each single read may take.
    bool process_and_close_socket(socket_t sock) override
    {
        SocketStream stream(sock, svr_sock_);
        bool served = false;
        for (std::size_t count = 0; count < keep_alive_max_count_ && svr_sock_ != INVALID_SOCKET; ++count) {
            const auto start = Clock::now();
            if (count > 0 && !stream.waitForData(start + keepAliveIdle))
                break;
            stream.expectHead(start + headAllowance);
            bool closing = false;
            served = process_request(stream, count + 1 == keep_alive_max_count_, closing, [&](httplib::Request &req) {
                // The body's length is unknown: answer (see contentLengthIsValid's handler) and close.
                if (!contentLengthIsValid(req)) {
                    req.headers.erase("Connection");
                    req.set_header("Connection", "close");
                    closing = true;
                }
            });
            if (!served || closing || stream.headTimedOut())
                break;
        }
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return served;
    }
};

class GrowingPool final : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> job) override
    {
        std::lock_guard guard(m_lock);
        m_jobs.push_back(std::move(job));
        if (m_idle < m_jobs.size() && m_threads.size() < mostWorkers)
            m_threads.emplace_back([this] { work(); });
        else
            m_ready.notify_one();
    }

    void shutdown() override
    {
        {
            std::lock_guard guard(m_lock);
            m_stopping = true;
        }
        m_ready.notify_all();
        for (std::thread &thread : m_threads)
            thread.join();
    }

private:
    void work()
    {
        std::unique_lock guard(m_lock);
        for (;;) {
            ++m_idle;
            m_ready.wait(guard, [this] { return !m_jobs.empty() || m_stopping; });
            --m_idle;
            if (m_jobs.empty())
                return;
            std::function<void()> job = std::move(m_jobs.front());
            m_jobs.pop_front();
            guard.unlock();
            job();
            guard.lock();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads; // only the listener's thread adds to it
    std::size_t m_idle = 0;
    bool m_stopping = false;
};

} // namespace

std::unique_ptr<httplib::Server> plainServer() { return std::make_unique<PlainServer>(); }

httplib::TaskQueue *growingPool() { return new GrowingPool; }

bool contentLengthIsValid(const httplib::Request &req)
{
    const auto [first, last] = req.headers.equal_range("Content-Length");
    for (auto it = first; it != last; ++it) {
        const std::string &value = it->second;
        // 18 digits stay below 2^63; the body limit is far smaller anyway.
        if (value.empty() || value.size() > 18 || value != first->second ||
            !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
    }
    return true;
}

} // namespace connections
