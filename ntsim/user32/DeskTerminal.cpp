#include "DeskTerminal.h"

#include "machine/FileLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

namespace ntsim::desk {

namespace {

class Terminal {
public:
    Terminal() { m_fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY); }
    ~Terminal()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool open() const { return m_fd >= 0; }

    void write(const std::string& text) const
    {
        writeAll(m_fd, text.data(), text.size());
    }

    std::optional<std::string> readLine() const
    {
        std::string line;
        for (;;) {
            char c;
            ssize_t n = ::read(m_fd, &c, 1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return line.empty() ? std::nullopt : std::optional<std::string>(line);
            if (c == '\n')
                return line;
            line += c;
        }
    }

private:
    int m_fd { -1 };
};

std::string normalised(const std::string& typed)
{
    std::string out;
    for (char c : typed) {
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

// A whole answer, or its first letter when no other answer shares it.
std::optional<std::string> match(const std::string& typed, const std::vector<std::string>& answers)
{
    std::string t = normalised(typed);
    if (t.empty())
        return std::nullopt;
    std::optional<std::string> byPrefix;
    int prefixMatches = 0;
    for (auto& a : answers) {
        if (a == t)
            return a;
        if (a.compare(0, t.size(), t) == 0) {
            byPrefix = a;
            ++prefixMatches;
        }
    }
    if (prefixMatches == 1)
        return byPrefix;
    return std::nullopt;
}

}

std::optional<std::string> askAtTerminal(const std::string& drawing, const std::vector<std::string>& answers)
{
    Terminal tty;
    if (!tty.open())
        return std::nullopt;
    tty.write("\n" + drawing);
    std::string choices;
    for (auto& a : answers)
        choices += (choices.empty() ? "" : "/") + a;
    for (;;) {
        tty.write("answer (" + choices + ")> ");
        auto line = tty.readLine();
        if (!line)
            return std::nullopt;
        if (auto answer = match(*line, answers))
            return answer;
        tty.write("not an answer here: " + *line + "\n");
    }
}

}
