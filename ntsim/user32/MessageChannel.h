// How processes of a machine send each other window messages: each process
// that owns windows listens on a Unix socket; a sender connects, writes one
// request line (JSON) and waits for the one reply line.
#pragma once
#include "machine/Json.h"

#include <string>

namespace ntsim::user32 {

// What answers a request that reaches this process: the messages' side
// (Message.cpp) hands it in, so that the channel knows only its transport.
using RequestHandler = Json (*)(const Json& request);

class MessageListener {
public:
    // This process's listener, made on first use, answering with handler.
    static MessageListener& get(RequestHandler handler);
    // Whether this process listens yet (without making the listener).
    static MessageListener* existing();

    int fd() const { return m_fd; }
    // Serves every request waiting now, each in full.
    void serveWaiting();

    ~MessageListener();
    MessageListener(const MessageListener&) = delete;
    MessageListener& operator=(const MessageListener&) = delete;

private:
    explicit MessageListener(RequestHandler handler);
    void serve(int connection);

    int m_fd { -1 };
    std::string m_root;
    int m_pid { 0 };
    RequestHandler m_handler;
};

enum class Delivery {
    Answered,   // reply holds the answer
    NoReceiver, // the process is gone or does not listen
    TimedOut,   // it did not answer in time
};

// Sends a request to a process and waits for its reply, serving the
// requests that reach this process meanwhile (the receiver may send back).
Delivery deliver(int pid, const Json& request, Json& reply);

// Blocks until a request reaches this process, and serves it with handler.
void waitForRequests(RequestHandler handler);

// How long a sender waits for an answer, in milliseconds: NT's hung-window
// threshold of five seconds, or NTSIM_SEND_TIMEOUT_MS.
int sendTimeoutMs();

}
