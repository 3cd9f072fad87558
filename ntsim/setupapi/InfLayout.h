// Where an INF's files come from and where they go: SourceDisksNames,
// SourceDisksFiles and DestinationDirs, read alike by the INF calls that
// report them and by the installer that copies.
#pragma once
#include "InfFile.h"

#include <string>

namespace ntsim::setupapi {

// The line of a section whose key matches, trying the x86 decoration of
// the section first.
const inf::Line* platformLine(const InfFile& file, const std::string& section, std::string_view key);

// A line of SourceDisksNames: description[, tag file[, unused, path]].
struct SourceDisk {
    std::string description;
    std::string tagFile;
    std::string path; // below the source root
};
bool sourceDisk(const InfFile& file, std::string_view id, SourceDisk& out);

// A line of SourceDisksFiles: disk id[, subdirectory].
struct SourceFile {
    std::string diskId;
    std::string subdirectory;
};
bool sourceFile(const InfFile& file, std::string_view name, SourceFile& out);

// The target directory of a file list: its DestinationDirs line, else
// DefaultDestDir, else the system directory. NO_ERROR or ERROR_INVALID_DATA
// for a line that names no directory.
DWORD targetDirectory(const InfFile& file, const std::string* listName, const std::string& sourceRoot,
    std::string& out);

}
