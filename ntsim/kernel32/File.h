// An open file of drive C:, behind a file handle.
#pragma once
#include "FileShare.h"
#include "Handles.h"

#include <cstdint>
#include <string>

namespace ntsim {

class File final : public KernelObject {
public:
    File(int fd, std::string hostPath, DWORD access, const FileId& id, uint64_t serial);
    ~File() override;

    int fd() const { return m_fd; }
    DWORD access() const { return m_access; }
    const std::string& hostPath() const { return m_hostPath; }
    std::string traceName() const override;
    int64_t position() const { return m_position; }
    void setPosition(int64_t position) { m_position = position; }

private:
    int m_fd;
    std::string m_hostPath;
    DWORD m_access;
    FileId m_id;
    uint64_t m_serial;
    int64_t m_position { 0 };
};

}
