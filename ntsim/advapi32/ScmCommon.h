// What the service controller's calls share: failing through the last
// error, the service a handle names, the text of the two forms.
#pragma once
#include <windows.h>

#include "ScmDatabase.h"
#include "ScmHandles.h"
#include "ScmRunState.h"

#include "registry/TextForms.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace ntsim::scm {

// NT 4.0's service controller refuses a pointer a call needs with
// ERROR_INVALID_PARAMETER; later versions say ERROR_INVALID_ADDRESS.
constexpr DWORD missingPointer = ERROR_INVALID_PARAMETER;

// The text of the A forms (the machine's ANSI code page) and of the W
// forms (UTF-16), to and from the controller's UTF-8.
using AnsiText = registry::AnsiText;
using WideText = registry::WideText;

using registry::optionalName;

// A list of names ending with an empty one ("a\0+group\0\0").
template<typename Text>
std::optional<std::vector<std::string>> listOf(const typename Text::Char* list)
{
    if (!list)
        return std::nullopt;
    std::vector<std::string> names;
    for (auto* p = list; *p; p += Text::length(p) + 1)
        names.push_back(Text::name(p));
    return names;
}

// Sets the thread's last error and gives back the value to fail with.
template<typename T>
T fail(DWORD error, T value)
{
    SetLastError(error);
    return value;
}

// The service handle a call was given, once the handle grants every right
// in needed; nothing, with the error set, otherwise.
std::optional<ScObject> openedService(SC_HANDLE handle, DWORD needed);
// The same for a handle of the controller itself.
std::optional<ScObject> openedManager(SC_HANDLE handle, DWORD needed);

// Deletes the services that are marked for delete, stopped and no longer
// open anywhere.
void completePendingDeletes(RunStates& states);

void fillStatus(const ServiceConfig* config, const RunState& state, LPSERVICE_STATUS status);

// Service type, start type and error control that NT accepts together.
bool validServiceSettings(DWORD type, DWORD start, DWORD errorControl, const std::string& account);

// A dependency list split into services and groups ('+' before a group).
void splitDependencies(const std::vector<std::string>& list, std::vector<std::string>& services,
    std::vector<std::string>& groups);

// Copies UTF-8 text out in a form's text, with its terminator, to cursor,
// which it moves past it; gives where it went.
template<typename Text>
typename Text::Char* putText(char*& cursor, const std::string& utf8)
{
    auto text = Text::out(utf8);
    auto* at = reinterpret_cast<typename Text::Char*>(cursor);
    std::copy(text.begin(), text.end(), at);
    at[text.size()] = 0;
    cursor += (text.size() + 1) * sizeof(typename Text::Char);
    return at;
}

// The bytes a form's copy of the text takes, with its terminator.
template<typename Text>
size_t textBytes(const std::string& utf8)
{
    return (Text::out(utf8).size() + 1) * sizeof(typename Text::Char);
}

}
