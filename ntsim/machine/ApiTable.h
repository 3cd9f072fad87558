// The calls the machine's libraries export, as their declarations in
// ntsim/include give them (the table is generated from those headers).
#pragma once
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

namespace ntsim {

struct ApiParameter {
    const char* type; // "LPCSTR", "REGSAM"
    const char* name; // "lpSubKey"; "argumentN" where the declaration names none
};

struct ApiSignature {
    const char* name;   // "RegOpenKeyExA"
    const char* header; // "winreg.h"
    const char* result; // "LONG"
    const ApiParameter* parameters;
    unsigned parameterCount;
};

const ApiSignature* apiSignaturesBegin();
const ApiSignature* apiSignaturesEnd();

// The signature of an exported call, or null for a name no library exports.
const ApiSignature* findApi(const std::string& name);

// Whether a call's result says it failed, by its documented convention (a
// registry status other than ERROR_SUCCESS, FALSE, a null or invalid
// handle, WAIT_FAILED ...); nothing for a result that tells no failure
// (GetLastError, IsWindow). A call with a convention is one the machine can
// be told to fail: its entry point asks the gate for a fault.
std::optional<bool> resultFails(const ApiSignature& api, uint64_t result);

}
