#include "FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
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
    std::string tmp = path + ".tmp." + std::to_string(getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    if (!writeAll(fd, contents.data(), contents.size())) {
        ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    }
    ::close(fd);
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
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

void* mapSharedFile(const std::string& path, size_t size, const char* kind, int& fd, std::string& error)
{
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)
        || (st.st_size < static_cast<off_t>(size) && ftruncate(fd, static_cast<off_t>(size)) != 0)) {
        error = path + ": " + (fd < 0 ? std::strerror(errno) : std::string("not a ") + kind);
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    }
    void* map = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        error = path + ": " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return map;
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
