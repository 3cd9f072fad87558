#include "MessageChannel.h"

#include "machine/Machine.h"

#include <poll.h>
#include <stddef.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace ntsim::user32 {

namespace {

constexpr int defaultSendTimeoutMs = 5000;
// A sender writes its request as soon as it connects; a connection that
// says nothing for this long is given up.
constexpr int requestReadTimeoutMs = 2000;

using Clock = std::chrono::steady_clock;

// The socket lives in the abstract namespace, named after the machine and
// the process: it vanishes with the process, so a dead owner refuses at once,
// and no long machine path can overflow the address.
sockaddr_un addressOf(int pid, socklen_t& length)
{
    char real[PATH_MAX];
    std::string root = Machine::current().root();
    if (realpath(root.c_str(), real))
        root = real;
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : root) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char name[96];
    int n = std::snprintf(name, sizeof name, "ntsim-user32/%016llx/%d", static_cast<unsigned long long>(hash), pid);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name, static_cast<size_t>(n));
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(n));
    return address;
}

int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool sendAll(int fd, const std::string& text, Clock::time_point deadline)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p { fd, POLLOUT, 0 };
            if (poll(&p, 1, remainingMs(deadline)) <= 0)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

class Socket {
public:
    explicit Socket(int fd) : m_fd(fd) { }
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

std::unique_ptr<MessageListener>& theListener()
{
    static std::unique_ptr<MessageListener> listener;
    return listener;
}

}

int sendTimeoutMs()
{
    if (const char* value = std::getenv("NTSIM_SEND_TIMEOUT_MS"); value && *value) {
        int ms = std::atoi(value);
        if (ms > 0)
            return ms;
    }
    return defaultSendTimeoutMs;
}

MessageListener& MessageListener::get(RequestHandler handler)
{
    auto& listener = theListener();
    // A test process may move to another machine, or fork: it listens anew.
    if (!listener || listener->m_root != Machine::current().root() || listener->m_pid != getpid())
        listener.reset(new MessageListener(handler));
    return *listener;
}

MessageListener* MessageListener::existing()
{
    auto& listener = theListener();
    if (!listener || listener->m_pid != getpid())
        return nullptr;
    return listener.get();
}

MessageListener::MessageListener(RequestHandler handler)
    : m_root(Machine::current().root())
    , m_pid(getpid())
    , m_handler(handler)
{
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0)
        return;
    socklen_t length = 0;
    sockaddr_un address = addressOf(getpid(), length);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_fd, 64) != 0) {
        std::fprintf(stderr, "ntsim: cannot listen for window messages: %s\n", std::strerror(errno));
        ::close(m_fd);
        m_fd = -1;
    }
}

MessageListener::~MessageListener()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void MessageListener::serveWaiting()
{
    if (m_fd < 0)
        return;
    for (;;) {
        int connection = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        serve(connection);
    }
}

void MessageListener::serve(int connection)
{
    Socket socket(connection);
    auto deadline = Clock::now() + std::chrono::milliseconds(requestReadTimeoutMs);
    std::string line;
    for (;;) {
        pollfd p { connection, POLLIN, 0 };
        int ready = poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return;
        char buffer[4096];
        ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        line.append(buffer, static_cast<size_t>(n));
        if (line.find('\n') != std::string::npos)
            break;
    }
    line.resize(line.find('\n'));
    Json request;
    std::string error;
    if (!parseJson(line, request, error))
        return;
    Json reply = m_handler(request);
    // The sender may have given up meanwhile; that is its affair.
    sendAll(connection, dumpLine(reply) + "\n", Clock::now() + std::chrono::milliseconds(requestReadTimeoutMs));
}

Delivery deliver(int pid, const Json& request, Json& reply)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(sendTimeoutMs());
    Socket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.fd() < 0)
        return Delivery::NoReceiver;
    socklen_t length = 0;
    sockaddr_un address = addressOf(pid, length);
    for (;;) {
        if (::connect(socket.fd(), reinterpret_cast<sockaddr*>(&address), length) == 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN) {
            // Its backlog is full: the receiver is alive but slow.
            if (remainingMs(deadline) == 0)
                return Delivery::TimedOut;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        return Delivery::NoReceiver;
    }
    if (!sendAll(socket.fd(), dumpLine(request) + "\n", deadline))
        return remainingMs(deadline) == 0 ? Delivery::TimedOut : Delivery::NoReceiver;

    std::string line;
    for (;;) {
        MessageListener* own = MessageListener::existing();
        pollfd polls[2] = { { socket.fd(), POLLIN, 0 }, { own ? own->fd() : -1, POLLIN, 0 } };
        int ready = poll(polls, 2, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return Delivery::TimedOut;
        if (polls[1].revents & POLLIN)
            own->serveWaiting();
        if (!(polls[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char buffer[4096];
        ssize_t n = ::recv(socket.fd(), buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return Delivery::NoReceiver; // it ended before it answered
        line.append(buffer, static_cast<size_t>(n));
        size_t end = line.find('\n');
        if (end == std::string::npos)
            continue;
        line.resize(end);
        std::string error;
        if (!parseJson(line, reply, error))
            return Delivery::NoReceiver;
        return Delivery::Answered;
    }
}

void waitForRequests(RequestHandler handler)
{
    MessageListener& listener = MessageListener::get(handler);
    if (listener.fd() < 0) {
        // Nothing can ever reach this process: as NT's GetMessage on an
        // empty queue, it waits for good.
        for (;;)
            pause();
    }
    for (;;) {
        pollfd p { listener.fd(), POLLIN, 0 };
        int ready = poll(&p, 1, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0) {
            listener.serveWaiting();
            return;
        }
    }
}

}
