// The trace of a program's calls: one JSON line per call that passes the
// gate (ApiCall.h) while the machine traces, appended to the trace file
// that NTSIM_TRACE names (ntsim run --trace) or that the machine's
// settings name for every run. A line: {"pid", "image", "call", "n" (the
// call's number within its name across the machine, as ntsim fault --nth
// counts), "args" (by parameter name: strings, handles with what they
// stand for, flags with their names), "result", "failed" (where the
// result tells), "error" (the last error the call left)}.
#pragma once
#include "Json.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>

namespace ntsim {

// Whether this process traces its calls.
bool tracing();

// What a library says of a handle value it handed out ({"kind": "key",
// "name": "HKLM\\SYSTEM"}), or nothing when the value is not one of its.
using HandleDescriber = std::function<std::optional<Json>(uintptr_t value)>;
// Libraries register their describers as they make their handle tables;
// the trace asks each in turn, the first registered first. The number
// returned removes the describer again.
unsigned registerHandleDescriber(HandleDescriber describer);
void removeHandleDescriber(unsigned token);
std::optional<Json> describeHandle(uintptr_t value);

class TraceRecord {
public:
    TraceRecord(const char* name, unsigned number);

    template<typename T>
    void argument(const T& value) { m_arguments.push_back(describe(value)); }

    template<typename T>
    void result(const T& value)
    {
        m_result = describe(value);
        if constexpr (std::is_integral_v<T> || std::is_enum_v<T>)
            m_rawResult = static_cast<uint64_t>(value);
        else if constexpr (std::is_pointer_v<T>)
            m_rawResult = reinterpret_cast<uintptr_t>(value);
    }

    // Writes the line, with the last error the call left.
    void write(uint32_t lastError) const;

private:
    template<typename T>
    static Json describe(const T& value)
    {
        if constexpr (std::is_same_v<T, const char*>)
            return text(value);
        else if constexpr (std::is_same_v<T, const char16_t*>)
            return wideText(value);
        else if constexpr (std::is_same_v<T, bool>)
            return value;
        else if constexpr (std::is_enum_v<T>)
            return static_cast<int64_t>(value);
        else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>)
            return static_cast<int64_t>(value);
        else if constexpr (std::is_integral_v<T>)
            return static_cast<uint64_t>(value);
        else if constexpr (std::is_pointer_v<T>)
            return pointer(reinterpret_cast<uintptr_t>(value));
        else
            return "...";
    }
    static Json text(const char* value);
    static Json wideText(const char16_t* value);
    static Json pointer(uintptr_t value);
    // The arguments by their parameters' names, flags with their names.
    Json namedArguments() const;

    std::string m_name;
    unsigned m_number;
    Json m_arguments = Json::array();
    Json m_result;
    std::optional<uint64_t> m_rawResult;
};

}
