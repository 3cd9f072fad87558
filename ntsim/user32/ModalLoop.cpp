#include "ModalLoop.h"

#include "MessageChannel.h"

#include <windows.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <thread>

namespace ntsim::user32 {

namespace {

// The desk's question, shared with the thread that waits for its answer:
// the thread may outlive a dialog that was closed meanwhile.
struct Question {
    desk::Shown shown;
    std::string answer;
    int ready[2] { -1, -1 }; // the thread writes one byte when answered

    ~Question()
    {
        for (int fd : ready) {
            if (fd >= 0)
                ::close(fd);
        }
    }
};

}

bool dispatchPosted()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

std::optional<std::string> askDesk(const desk::Shown& shown, const std::function<bool()>& ended)
{
    auto question = std::make_shared<Question>();
    question->shown = shown;
    if (pipe2(question->ready, O_CLOEXEC) != 0)
        return desk::show(shown);
    // The desk blocks on its script or terminal; this thread keeps the
    // process's windows answering meanwhile.
    std::thread waiter([question] {
        question->answer = desk::show(question->shown);
        char done = 1;
        while (::write(question->ready[1], &done, 1) < 0 && errno == EINTR) {
        }
    });
    MessageListener* listener = MessageListener::existing();
    int listening = listener ? listener->fd() : -1;
    for (;;) {
        pollfd polls[2] = { { question->ready[0], POLLIN, 0 }, { listening, POLLIN, 0 } };
        int count = poll(polls, 2, -1);
        if (count < 0 && errno == EINTR)
            continue;
        if (polls[0].revents & (POLLIN | POLLHUP)) {
            waiter.join();
            return question->answer;
        }
        // The desk may end the process from its thread; the listener then
        // closes under us and is left alone.
        if (polls[1].revents & POLLNVAL) {
            listening = -1;
            continue;
        }
        if (polls[1].revents & POLLIN) {
            if (MessageListener* own = MessageListener::existing())
                own->serveWaiting();
            if (!dispatchPosted() || ended()) {
                waiter.detach();
                return std::nullopt;
            }
        }
    }
}

}
