// The one gate every exported call of the machine's libraries goes through.
//
// An exported function begins with an ApiCall naming itself and its
// arguments, asks it whether the machine fails this call, and hands its
// result back through it:
//
//     NTSIM_API LONG WINAPI RegCloseKey(HKEY hKey)
//     {
//         ApiCall call("RegCloseKey", hKey);
//         if (auto error = call.fault())
//             return call.returns(LONG(*error));
//         return call.returns(registry::closeKey(hKey));
//     }
//
// A call that reports through the last error asks `if (call.faulted())`,
// which sets the fault's error as the last error.
//
// Only a program's own calls count: a call the platform makes while it
// serves another (setupapi opening a key, an A form calling its W form)
// is nested and passes the gate untouched. Code of the program that the
// platform calls back (a window procedure, a queue callback, an applet)
// runs inside a ProgramCode scope, so that its calls count again.
//
// Counting costs nothing unless the machine names the call in its faults
// or traces its programs' calls.
#pragma once
#include "Trace.h"

#include <cstdint>
#include <optional>

namespace ntsim {

class ApiCall {
public:
    template<typename... Args>
    explicit ApiCall(const char* name, const Args&... args)
        : m_name(name)
        , m_outer(enter())
    {
        if (m_outer && begin() && m_record)
            (m_record->argument(args), ...);
    }
    ~ApiCall();
    ApiCall(const ApiCall&) = delete;
    ApiCall& operator=(const ApiCall&) = delete;

    // The error to fail with when the machine chose this call to fail.
    std::optional<uint32_t> fault() const { return m_fault; }

    // For calls that report through the last error: true, with the fault's
    // error made the last error, when the machine fails this call.
    bool faulted() const
    {
        if (m_fault)
            setLastError(*m_fault);
        return m_fault.has_value();
    }

    // Passes the call's result through, noting it for the trace.
    template<typename R>
    R returns(R value)
    {
        if (m_record)
            m_record->result(value);
        return value;
    }

    // The n-th call of its name across the machine's processes (0 when
    // the machine does not count it).
    unsigned number() const { return m_number; }

    // The thread's last error, which kernel32's GetLastError and
    // SetLastError give and take; here so that every floor can fail a call.
    static uint32_t lastError();
    static void setLastError(uint32_t error);

private:
    static bool enter();
    // Counts the call when the machine wants it counted; true if it did.
    bool begin();

    const char* m_name;
    bool m_outer;
    unsigned m_number { 0 };
    std::optional<uint32_t> m_fault;
    std::optional<TraceRecord> m_record;
};

// While one lives, the calls this thread makes are a program's own again:
// the platform is calling code of the program (a window procedure, a
// callback). A function of the platform's own passed as a callback (the
// default queue callback) leaves its calls nested.
class ProgramCode {
public:
    explicit ProgramCode(const void* function);
    ~ProgramCode();
    ProgramCode(const ProgramCode&) = delete;
    ProgramCode& operator=(const ProgramCode&) = delete;

    // Calls a function pointer of the program inside a scope of its own.
    template<typename Function, typename... Args>
    static auto call(Function function, Args... args)
    {
        ProgramCode scope(reinterpret_cast<const void*>(function));
        return function(args...);
    }

private:
    int m_savedDepth;
};

}
