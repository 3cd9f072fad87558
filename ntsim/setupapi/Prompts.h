// The setup prompts at the desk: a missing disk or file, a copy, delete or
// rename that failed, and the restart. The calls of these names and the
// default queue callback both show them through here. Texts are UTF-8.
#pragma once
#include <setupapi.h>

#include <string>

namespace ntsim::setupapi {

// Each returns a DPROMPT_* answer; path receives the source path the person
// gave for a retry.
UINT promptForDisk(const std::string* title, const std::string* diskName, const std::string& pathToSource,
    const std::string& fileSought, DWORD style, std::string& path);
UINT promptCopyError(const std::string* title, const std::string& pathToSource, const std::string& sourceFile,
    const std::string& target, UINT error, DWORD style, std::string& path);
UINT promptDeleteError(const std::string* title, const std::string& file, UINT error, DWORD style);
UINT promptRenameError(const std::string* title, const std::string& source, const std::string& target, UINT error,
    DWORD style);

}
