#include "ErrorTable.h"

#include "machine/NtPath.h"

#include <windows.h>

#include <cstdlib>
#include <iterator>

namespace ntsim {

namespace {

const SystemError errors[] = {
    { ERROR_SUCCESS, "ERROR_SUCCESS", "The operation completed successfully." },
    { ERROR_INVALID_FUNCTION, "ERROR_INVALID_FUNCTION", "Incorrect function." },
    { ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND", "The system cannot find the file specified." },
    { ERROR_PATH_NOT_FOUND, "ERROR_PATH_NOT_FOUND", "The system cannot find the path specified." },
    { ERROR_TOO_MANY_OPEN_FILES, "ERROR_TOO_MANY_OPEN_FILES", "The system cannot open the file." },
    { ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED", "Access is denied." },
    { ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE", "The handle is invalid." },
    { ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "Not enough storage is available to process this command." },
    { ERROR_INVALID_DATA, "ERROR_INVALID_DATA", "The data is invalid." },
    { ERROR_OUTOFMEMORY, "ERROR_OUTOFMEMORY", "Not enough storage is available to complete this operation." },
    { ERROR_NO_MORE_FILES, "ERROR_NO_MORE_FILES", "There are no more files." },
    { ERROR_WRITE_PROTECT, "ERROR_WRITE_PROTECT", "The media is write protected." },
    { ERROR_NOT_READY, "ERROR_NOT_READY", "The device is not ready." },
    { ERROR_GEN_FAILURE, "ERROR_GEN_FAILURE", "A device attached to the system is not functioning." },
    { ERROR_SHARING_VIOLATION, "ERROR_SHARING_VIOLATION",
        "The process cannot access the file because it is being used by another process." },
    { ERROR_NOT_SUPPORTED, "ERROR_NOT_SUPPORTED", "The network request is not supported." },
    { ERROR_FILE_EXISTS, "ERROR_FILE_EXISTS", "The file exists." },
    { ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER", "The parameter is incorrect." },
    { ERROR_DISK_FULL, "ERROR_DISK_FULL", "There is not enough space on the disk." },
    { ERROR_CALL_NOT_IMPLEMENTED, "ERROR_CALL_NOT_IMPLEMENTED", "This function is not supported on this system." },
    { ERROR_INSUFFICIENT_BUFFER, "ERROR_INSUFFICIENT_BUFFER", "The data area passed to a system call is too small." },
    { ERROR_INVALID_NAME, "ERROR_INVALID_NAME", "The filename, directory name, or volume label syntax is incorrect." },
    { ERROR_MOD_NOT_FOUND, "ERROR_MOD_NOT_FOUND", "The specified module could not be found." },
    { ERROR_PROC_NOT_FOUND, "ERROR_PROC_NOT_FOUND", "The specified procedure could not be found." },
    { ERROR_ALREADY_EXISTS, "ERROR_ALREADY_EXISTS", "Cannot create a file when that file already exists." },
    { ERROR_BAD_EXE_FORMAT, "ERROR_BAD_EXE_FORMAT", "%1 is not a valid Windows NT application." },
    { ERROR_MORE_DATA, "ERROR_MORE_DATA", "More data is available." },
    { ERROR_NO_MORE_ITEMS, "ERROR_NO_MORE_ITEMS", "No more data is available." },
    { ERROR_INVALID_ADDRESS, "ERROR_INVALID_ADDRESS", "Attempt to access invalid address." },
    { ERROR_BADDB, "ERROR_BADDB", "The configuration registry database is corrupt." },
    { ERROR_BADKEY, "ERROR_BADKEY", "The configuration registry key is invalid." },
    { ERROR_CANTOPEN, "ERROR_CANTOPEN", "The configuration registry key could not be opened." },
    { ERROR_CANTREAD, "ERROR_CANTREAD", "The configuration registry key could not be read." },
    { ERROR_CANTWRITE, "ERROR_CANTWRITE", "The configuration registry key could not be written." },
    { ERROR_KEY_DELETED, "ERROR_KEY_DELETED", "Illegal operation attempted on a registry key which has been marked for deletion." },
    { ERROR_DEPENDENT_SERVICES_RUNNING, "ERROR_DEPENDENT_SERVICES_RUNNING",
        "A stop control has been sent to a service which other running services are dependent on." },
    { ERROR_INVALID_SERVICE_CONTROL, "ERROR_INVALID_SERVICE_CONTROL", "The requested control is not valid for this service." },
    { ERROR_SERVICE_REQUEST_TIMEOUT, "ERROR_SERVICE_REQUEST_TIMEOUT",
        "The service did not respond to the start or control request in a timely fashion." },
    { ERROR_SERVICE_NO_THREAD, "ERROR_SERVICE_NO_THREAD", "A thread could not be created for the service." },
    { ERROR_SERVICE_DATABASE_LOCKED, "ERROR_SERVICE_DATABASE_LOCKED", "The service database is locked." },
    { ERROR_SERVICE_ALREADY_RUNNING, "ERROR_SERVICE_ALREADY_RUNNING", "An instance of the service is already running." },
    { ERROR_INVALID_SERVICE_ACCOUNT, "ERROR_INVALID_SERVICE_ACCOUNT",
        "The account name is invalid or does not exist." },
    { ERROR_SERVICE_DISABLED, "ERROR_SERVICE_DISABLED", "The specified service is disabled and cannot be started." },
    { ERROR_CIRCULAR_DEPENDENCY, "ERROR_CIRCULAR_DEPENDENCY", "Circular service dependency was specified." },
    { ERROR_SERVICE_DOES_NOT_EXIST, "ERROR_SERVICE_DOES_NOT_EXIST",
        "The specified service does not exist as an installed service." },
    { ERROR_SERVICE_CANNOT_ACCEPT_CTRL, "ERROR_SERVICE_CANNOT_ACCEPT_CTRL",
        "The service cannot accept control messages at this time." },
    { ERROR_SERVICE_NOT_ACTIVE, "ERROR_SERVICE_NOT_ACTIVE", "The service has not been started." },
    { ERROR_DATABASE_DOES_NOT_EXIST, "ERROR_DATABASE_DOES_NOT_EXIST", "The database specified does not exist." },
    { ERROR_SERVICE_SPECIFIC_ERROR, "ERROR_SERVICE_SPECIFIC_ERROR", "The service has returned a service-specific error code." },
    { ERROR_PROCESS_ABORTED, "ERROR_PROCESS_ABORTED", "The process terminated unexpectedly." },
    { ERROR_SERVICE_DEPENDENCY_FAIL, "ERROR_SERVICE_DEPENDENCY_FAIL", "The dependency service or group failed to start." },
    { ERROR_SERVICE_LOGON_FAILED, "ERROR_SERVICE_LOGON_FAILED", "The service did not start due to a logon failure." },
    { ERROR_SERVICE_START_HANG, "ERROR_SERVICE_START_HANG", "After starting, the service hung in a start-pending state." },
    { ERROR_SERVICE_MARKED_FOR_DELETE, "ERROR_SERVICE_MARKED_FOR_DELETE", "The specified service has been marked for deletion." },
    { ERROR_SERVICE_EXISTS, "ERROR_SERVICE_EXISTS", "The specified service already exists." },
    { ERROR_SERVICE_DEPENDENCY_DELETED, "ERROR_SERVICE_DEPENDENCY_DELETED",
        "The dependency service does not exist or has been marked for deletion." },
    { ERROR_SERVICE_NEVER_STARTED, "ERROR_SERVICE_NEVER_STARTED",
        "No attempts to start the service have been made since the last boot." },
    { ERROR_DUPLICATE_SERVICE_NAME, "ERROR_DUPLICATE_SERVICE_NAME",
        "The name is already in use as either a service name or a service display name." },
    { ERROR_NOT_FOUND, "ERROR_NOT_FOUND", "Element not found." },
    { ERROR_CANCELLED, "ERROR_CANCELLED", "The operation was canceled by the user." },
    { ERROR_PRIVILEGE_NOT_HELD, "ERROR_PRIVILEGE_NOT_HELD", "A required privilege is not held by the client." },
    { ERROR_INVALID_ACL, "ERROR_INVALID_ACL", "The access control list (ACL) structure is invalid." },
    { ERROR_INVALID_SID, "ERROR_INVALID_SID", "The security ID structure is invalid." },
    { ERROR_INVALID_SECURITY_DESCR, "ERROR_INVALID_SECURITY_DESCR", "The security descriptor structure is invalid." },
    { ERROR_TIMEOUT, "ERROR_TIMEOUT", "This operation returned because the timeout period expired." },
    { RPC_S_SERVER_UNAVAILABLE, "RPC_S_SERVER_UNAVAILABLE", "The RPC server is unavailable." },
    { ERROR_INVALID_FLAGS, "ERROR_INVALID_FLAGS", "Invalid flags." },
    { ERROR_INVALID_USER_BUFFER, "ERROR_INVALID_USER_BUFFER",
        "The supplied user buffer is not valid for the requested operation." },
    // The device installer's own codes have no text in the system's messages.
    { ERROR_EXPECTED_SECTION_NAME, "ERROR_EXPECTED_SECTION_NAME", nullptr },
    { ERROR_BAD_SECTION_NAME_LINE, "ERROR_BAD_SECTION_NAME_LINE", nullptr },
    { ERROR_SECTION_NAME_TOO_LONG, "ERROR_SECTION_NAME_TOO_LONG", nullptr },
    { ERROR_GENERAL_SYNTAX, "ERROR_GENERAL_SYNTAX", nullptr },
    { ERROR_WRONG_INF_STYLE, "ERROR_WRONG_INF_STYLE", nullptr },
    { ERROR_SECTION_NOT_FOUND, "ERROR_SECTION_NOT_FOUND", nullptr },
    { ERROR_LINE_NOT_FOUND, "ERROR_LINE_NOT_FOUND", nullptr },
    { ERROR_NO_ASSOCIATED_CLASS, "ERROR_NO_ASSOCIATED_CLASS", nullptr },
    { ERROR_CLASS_MISMATCH, "ERROR_CLASS_MISMATCH", nullptr },
    { ERROR_NO_DRIVER_SELECTED, "ERROR_NO_DRIVER_SELECTED", nullptr },
    { ERROR_INVALID_DEVINST_NAME, "ERROR_INVALID_DEVINST_NAME", nullptr },
    { ERROR_INVALID_CLASS, "ERROR_INVALID_CLASS", nullptr },
    { ERROR_DEVINST_ALREADY_EXISTS, "ERROR_DEVINST_ALREADY_EXISTS", nullptr },
    { ERROR_DEVINFO_NOT_REGISTERED, "ERROR_DEVINFO_NOT_REGISTERED", nullptr },
    { ERROR_INVALID_REG_PROPERTY, "ERROR_INVALID_REG_PROPERTY", nullptr },
    { ERROR_NO_SUCH_DEVINST, "ERROR_NO_SUCH_DEVINST", nullptr },
    { ERROR_INVALID_CLASS_INSTALLER, "ERROR_INVALID_CLASS_INSTALLER", nullptr },
    { ERROR_DI_DO_DEFAULT, "ERROR_DI_DO_DEFAULT", nullptr },
    { ERROR_NO_DEVICE_SELECTED, "ERROR_NO_DEVICE_SELECTED", nullptr },
    { ERROR_NO_COMPAT_DRIVERS, "ERROR_NO_COMPAT_DRIVERS", nullptr },
};

}

const SystemError* findSystemError(uint32_t code)
{
    for (auto& e : errors)
        if (e.code == code)
            return &e;
    return nullptr;
}

const SystemError* findSystemError(const std::string& name)
{
    for (auto& e : errors)
        if (equalsNoCase(e.name, name))
            return &e;
    return nullptr;
}

std::optional<uint32_t> parseSystemError(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    if (const SystemError* e = findSystemError(text))
        return e->code;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? 16 : 10);
    if (*end || text[0] == '-' || value > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

std::string systemMessage(uint32_t code)
{
    const SystemError* e = findSystemError(code);
    return e && e->message ? e->message : "";
}

}
