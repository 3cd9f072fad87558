// FindFirstFileA and FindNextFileA: directory listings matched without
// regard to case.
#include "FilePath.h"
#include "FileAttributeStore.h"
#include "Handles.h"

#include "machine/ApiCall.h"
#include "machine/NtPath.h"

#include <windows.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

class FindSearch final : public ntsim::KernelObject {
public:
    explicit FindSearch(std::vector<WIN32_FIND_DATAA> entries)
        : KernelObject(Type::Find)
        , m_entries(std::move(entries))
    {
    }

    bool next(WIN32_FIND_DATAA& out)
    {
        if (m_next >= m_entries.size())
            return false;
        out = m_entries[m_next++];
        return true;
    }

private:
    std::vector<WIN32_FIND_DATAA> m_entries;
    size_t m_next { 0 };
};

WIN32_FIND_DATAA entryOf(const std::string& name, const std::string& ntDir, const struct stat& st)
{
    WIN32_FIND_DATAA data {};
    bool directory = S_ISDIR(st.st_mode);
    DWORD attributes = directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (name != "." && name != "..") {
        if (auto stored = ntsim::storedAttributes(ntsim::ntJoin(ntDir, name)))
            attributes = (*stored & ~FILE_ATTRIBUTE_DIRECTORY) | (directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
    }
    if (!directory) {
        attributes &= ~FILE_ATTRIBUTE_READONLY;
        if (!ntsim::hostWritable(st))
            attributes |= FILE_ATTRIBUTE_READONLY;
    }
    data.dwFileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    data.ftCreationTime = ntsim::fileTimeOf(st.st_ctim);
    data.ftLastAccessTime = ntsim::fileTimeOf(st.st_atim);
    data.ftLastWriteTime = ntsim::fileTimeOf(st.st_mtim);
    uint64_t size = directory ? 0 : static_cast<uint64_t>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
    std::strncpy(data.cFileName, name.c_str(), MAX_PATH - 1);
    return data;
}

bool hasWildcards(const std::string& s)
{
    return s.find_first_of("*?") != std::string::npos;
}

}

extern "C" HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData)
{
    ntsim::ApiCall call("FindFirstFileA", lpFileName, lpFindFileData);
    if (call.faulted())
        return call.returns(INVALID_HANDLE_VALUE);
    if (!lpFindFileData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(INVALID_HANDLE_VALUE);
    }
    ntsim::ResolvedPath path;
    if (!ntsim::resolvePath(lpFileName, path, true))
        return call.returns(INVALID_HANDLE_VALUE);
    size_t part = ntsim::fileNamePart(path.nt);
    std::string pattern = path.nt.substr(part);
    std::string ntDir = ntsim::ntParent(path.nt);
    if (pattern.empty() || hasWildcards(ntDir)) {
        SetLastError(pattern.empty() ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_NAME);
        return call.returns(INVALID_HANDLE_VALUE);
    }
    std::string hostDir = path.host.substr(0, path.host.find_last_of('/'));
    DIR* d = opendir(hostDir.c_str());
    if (!d) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return call.returns(INVALID_HANDLE_VALUE);
    }
    bool root = ntDir.size() <= 3;
    std::vector<WIN32_FIND_DATAA> entries;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        // NT lists "." and ".." in every directory but a drive's root.
        if (root && (name == "." || name == ".."))
            continue;
        if (!ntsim::wildcardMatch(pattern, name))
            continue;
        // A host link is no file of the machine: it is not listed.
        struct stat st;
        if (lstat((hostDir + "/" + name).c_str(), &st) != 0 || S_ISLNK(st.st_mode))
            continue;
        entries.push_back(entryOf(name, ntDir, st));
    }
    closedir(d);
    if (entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return call.returns(INVALID_HANDLE_VALUE);
    }
    auto rank = [](const std::string& name) { return name == "." ? 0 : name == ".." ? 1 : 2; };
    std::sort(entries.begin(), entries.end(), [&rank](const WIN32_FIND_DATAA& a, const WIN32_FIND_DATAA& b) {
        if (rank(a.cFileName) != rank(b.cFileName))
            return rank(a.cFileName) < rank(b.cFileName);
        return ntsim::upperAscii(a.cFileName) < ntsim::upperAscii(b.cFileName);
    });
    auto search = std::make_shared<FindSearch>(std::move(entries));
    search->next(*lpFindFileData);
    SetLastError(ERROR_SUCCESS);
    return call.returns(ntsim::insertHandle(search));
}

extern "C" BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData)
{
    ntsim::ApiCall call("FindNextFileA", hFindFile, lpFindFileData);
    if (call.faulted())
        return call.returns(FALSE);
    auto search = ntsim::lookupHandleOf<FindSearch>(hFindFile, ntsim::KernelObject::Type::Find);
    if (!search) {
        SetLastError(ERROR_INVALID_HANDLE);
        return call.returns(FALSE);
    }
    if (!lpFindFileData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return call.returns(FALSE);
    }
    if (!search->next(*lpFindFileData)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return call.returns(FALSE);
    }
    return call.returns(TRUE);
}

extern "C" BOOL WINAPI FindClose(HANDLE hFindFile)
{
    ntsim::ApiCall call("FindClose", hFindFile);
    if (call.faulted())
        return call.returns(FALSE);
    auto search = ntsim::lookupHandleOf<FindSearch>(hFindFile, ntsim::KernelObject::Type::Find);
    if (!search || !ntsim::removeHandle(hFindFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return call.returns(FALSE);
    }
    return call.returns(TRUE);
}
