// An advisory lock on a file of the machine's directory, held for a scope.
// Processes of one machine serialise their changes to shared state with it.
#pragma once
#include <string>

namespace ntsim {

class FileLock {
public:
    enum class Mode { Shared, Exclusive };
    FileLock(const std::string& path, Mode mode);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return m_fd >= 0; }

private:
    int m_fd { -1 };
};

// Creates a directory and its parents; true if it exists afterwards.
bool makeDirectories(const std::string& path);
// Writes a file whole through a temporary and a rename, so that readers
// see either the old or the new contents. A path that names no regular
// file (a device, a pipe) is written in place. False on any error.
bool writeFileAtomically(const std::string& path, const std::string& contents);
bool readWholeFile(const std::string& path, std::string& out);
// Reads a file of at most limit bytes, whatever it is (/dev/zero stops at
// the limit); false with error saying why.
bool readFileUpTo(const std::string& path, size_t limit, std::string& out, std::string& error);

// Maps a small file of the machine that its processes share (made, and
// grown to size, when it is short), never through a link. Null, with the
// error naming the file (a file that is not a plain one is "not a KIND"),
// when it cannot; fd is kept open for the mapping's life otherwise.
void* mapSharedFile(const std::string& path, size_t size, const char* kind, int& fd, std::string& error);

// Moves all of a buffer through a descriptor, going on after short or
// interrupted transfers; false on an error (or, reading, never).
bool writeAll(int fd, const char* data, size_t size);
// Reads a descriptor to its end.
bool readAll(int fd, std::string& out);

}
