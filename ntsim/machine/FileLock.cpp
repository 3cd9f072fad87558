#include "FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace ntsim {

FileLock::FileLock(const std::string& path, Mode mode)
{
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        return;
    int op = mode == Mode::Shared ? LOCK_SH : LOCK_EX;
    while (flock(m_fd, op) != 0) {
        if (errno != EINTR) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
    }
}

FileLock::~FileLock()
{
    if (m_fd >= 0) {
        flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
}

namespace {

// The copy the mark names, or -1 when there is none yet.
int markedCopy(const std::string& path)
{
    std::string mark;
    if (!readWholeFile(path, mark) || mark.size() != 1 || (mark[0] != '0' && mark[0] != '1'))
        return -1;
    return mark[0] - '0';
}

}

bool writeLockedState(const std::string& path, const std::string& contents)
{
    int next = markedCopy(path) == 0 ? 1 : 0;
    std::string copy = path + "." + std::to_string(next);
    // Overwritten in place behind a line with its length, so that the copy
    // never shrinks to nothing: freeing its blocks costs more than writing.
    std::string text = std::to_string(contents.size()) + "\n" + contents;
    int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())
        && ftruncate(fd, static_cast<off_t>(text.size())) == 0;
    ::close(fd);
    if (!ok)
        return false;
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    char mark = static_cast<char>('0' + next);
    ok = pwrite(fd, &mark, 1, 0) == 1 && ftruncate(fd, 1) == 0;
    ::close(fd);
    return ok;
}

bool readLockedState(const std::string& path, std::string& out)
{
    int copy = markedCopy(path);
    std::string text;
    if (copy < 0 || !readWholeFile(path + "." + std::to_string(copy), text))
        return false;
    size_t newline = text.find('\n');
    if (newline == std::string::npos || std::to_string(text.size() - newline - 1) != text.substr(0, newline))
        return false;
    out = text.substr(newline + 1);
    return true;
}

bool makeDirectories(const std::string& path)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !makeDirectories(path.substr(0, slash)))
        return false;
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool writeFileAtomically(const std::string& path, const std::string& contents)
{
    // Only a regular file is replaced; a device or a pipe (/dev/full,
    // /dev/stdout) is written as it is, and its errors are the write's.
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        bool written = writeAll(fd, contents.data(), contents.size());
        return ::close(fd) == 0 && written;
    }
    std::string tmp = path + ".tmp." + std::to_string(getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool written = writeAll(fd, contents.data(), contents.size());
    if (::close(fd) != 0 || !written) {
        ::unlink(tmp.c_str());
        return false;
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool readFileUpTo(const std::string& path, size_t limit, std::string& out, std::string& error)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    out.clear();
    char buffer[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
        if (out.size() > limit) {
            error = path + " is larger than " + std::to_string(limit >> 20) + " MB, more than it can be";
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

bool readWholeFile(const std::string& path, std::string& out)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = readAll(fd, out);
    ::close(fd);
    return ok;
}

bool writeAll(int fd, const char* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool readAll(int fd, std::string& out)
{
    out.clear();
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out.append(buf, static_cast<size_t>(n));
    }
}

}
