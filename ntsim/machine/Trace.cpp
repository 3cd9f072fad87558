#include "Trace.h"

#include "ApiTable.h"
#include "Machine.h"
#include "Process.h"
#include "TraceFlags.h"
#include "Utf8.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace ntsim {

namespace {

// The trace file, opened on the first call: the run's (ntsim run --trace)
// or the machine's for every run.
int traceFile()
{
    static int fd = [] {
        const char* given = std::getenv("NTSIM_TRACE");
        std::string path = given ? given : "";
        if (path.empty() && Machine::attached())
            path = Machine::current().config().trace;
        return path.empty() ? -1 : ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }();
    return fd;
}

std::mutex& describersLock()
{
    static std::mutex lock;
    return lock;
}

std::vector<std::pair<unsigned, HandleDescriber>>& describers()
{
    static auto* list = new std::vector<std::pair<unsigned, HandleDescriber>>; // outlives every handle table
    return *list;
}


std::string hex(uintptr_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

}

bool tracing()
{
    return traceFile() >= 0;
}

unsigned registerHandleDescriber(HandleDescriber describer)
{
    static unsigned last = 0;
    std::lock_guard lock(describersLock());
    describers().emplace_back(++last, std::move(describer));
    return last;
}

void removeHandleDescriber(unsigned token)
{
    std::lock_guard lock(describersLock());
    auto& list = describers();
    for (auto it = list.begin(); it != list.end(); ++it)
        if (it->first == token) {
            list.erase(it);
            return;
        }
}

std::optional<Json> describeHandle(uintptr_t value)
{
    // Copied out, so that a describer may call into its library, which
    // may make a table of its own.
    std::vector<HandleDescriber> list;
    {
        std::lock_guard lock(describersLock());
        for (auto& entry : describers())
            list.push_back(entry.second);
    }
    for (auto& describer : list)
        if (auto found = describer(value))
            return found;
    return std::nullopt;
}

TraceRecord::TraceRecord(const char* name, unsigned number)
    : m_name(name)
    , m_number(number)
{
}

Json TraceRecord::text(const char* value)
{
    return value ? bytesJson(value) : Json();
}

Json TraceRecord::wideText(const char16_t* value)
{
    return value ? Json(utf::utf8Of(value)) : Json();
}

Json TraceRecord::pointer(uintptr_t value)
{
    if (!value)
        return nullptr;
    if (auto handle = describeHandle(value)) {
        (*handle)["value"] = hex(value);
        return *handle;
    }
    return hex(value);
}

Json TraceRecord::namedArguments() const
{
    const ApiSignature* api = findApi(m_name);
    Json out = Json::object();
    for (size_t i = 0; i < m_arguments.size(); ++i) {
        bool named = api && i < api->parameterCount;
        std::string name = named ? api->parameters[i].name : "argument" + std::to_string(i + 1);
        const Json& value = m_arguments[i];
        std::optional<std::string> flags;
        if (named && value.is_number_integer())
            flags = describeFlags(*api, static_cast<unsigned>(i), value.get<uint64_t>());
        out[name] = flags ? Json(*flags) : value;
    }
    return out;
}

void TraceRecord::write(uint32_t lastError) const
{
    int fd = traceFile();
    if (fd < 0)
        return;
    const std::string& image = currentProcess().imagePath;
    Json line;
    line["pid"] = static_cast<int>(getpid());
    line["image"] = bytesJson(image.substr(image.find_last_of('\\') + 1));
    line["call"] = m_name;
    line["n"] = m_number;
    line["args"] = namedArguments();
    line["result"] = m_result;
    const ApiSignature* api = findApi(m_name);
    if (auto failed = api && m_rawResult ? resultFails(*api, *m_rawResult) : std::nullopt)
        line["failed"] = *failed;
    line["error"] = lastError;
    std::string text = dumpLine(line) + "\n";
    // One write a line: O_APPEND keeps the processes' lines whole.
    ssize_t written = ::write(fd, text.data(), text.size());
    (void)written;
}

}
