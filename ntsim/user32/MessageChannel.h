// How processes of a machine send each other window messages: each process
// that owns windows listens on a Unix socket; a sender connects, writes one
// request line (JSON) and waits for the one reply line.
#pragma once
#include "../machine/Json.h"

#include <string>

namespace ntsim::user32 {

class MessageListener {
public:
    // This process's listener, made on first use.
    static MessageListener& get();
    // Whether this process listens yet (without making the listener).
    static MessageListener* existing();

    int fd() const { return m_fd; }
    // Serves every request waiting now, each in full.
    void serveWaiting();

    ~MessageListener();
    MessageListener(const MessageListener&) = delete;
    MessageListener& operator=(const MessageListener&) = delete;

private:
    MessageListener();
    void serve(int connection);

    int m_fd { -1 };
    std::string m_root;
    int m_pid { 0 };
};

// Answers one request of another process; defined with the messages.
Json answerRequest(const Json& request);

enum class Delivery {
    Answered,   // reply holds the answer
    NoReceiver, // the process is gone or does not listen
    TimedOut,   // it did not answer in time
};

// Sends a request to a process and waits for its reply, serving the
// requests that reach this process meanwhile (the receiver may send back).
Delivery deliver(int pid, const Json& request, Json& reply);

// Blocks until a request reaches this process, and serves it.
void waitForRequests();

// How long a sender waits for an answer, in milliseconds: NT's hung-window
// threshold of five seconds, or NTSIM_SEND_TIMEOUT_MS.
int sendTimeoutMs();

}
