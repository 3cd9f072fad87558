// The file lists of an INF put on a queue: what SetupQueueCopySection,
// SetupQueueDeleteSection, SetupQueueRenameSection and
// SetupQueueDefaultCopy do, and the CopyFiles, DelFiles and RenFiles
// directives of an install section built from them.
#pragma once
#include "FileQueue.h"
#include "InfFile.h"

#include <string>

namespace ntsim::setupapi {

// A file copied from an INF's layout: its source directory below the root,
// disk description and tag file from SourceDisksFiles and SourceDisksNames.
CopyOperation layoutCopy(const InfFile& layout, const std::string& sourceRoot, const std::string& sourceFile,
    const std::string& targetDir, const std::string& targetFile, DWORD style);

// Each returns NO_ERROR or the error of the call; a section that is not
// there (or has no line) is ERROR_LINE_NOT_FOUND.
DWORD queueCopySection(FileQueue& queue, const InfFile& layout, const InfFile& list, const std::string& section,
    const std::string& sourceRoot, DWORD copyStyle);
DWORD queueDeleteSection(FileQueue& queue, const InfFile& inf, const InfFile& list, const std::string& section);
DWORD queueRenameSection(FileQueue& queue, const InfFile& inf, const InfFile& list, const std::string& section);
DWORD queueDefaultCopy(FileQueue& queue, const InfFile& inf, const std::string& sourceRoot,
    const std::string& sourceFile, const std::string& targetFile, DWORD copyStyle);

// The file directives of an install section; lists it names that are not
// there are passed over.
DWORD queueSectionFiles(FileQueue& queue, const InfFile& inf, const InfFile& layout, const inf::Section& install,
    const std::string& sourceRoot, UINT copyFlags);

}
