// The thread's last error lives with the gate, which fails calls through it.
#include "machine/ApiCall.h"

#include <windows.h>

extern "C" DWORD WINAPI GetLastError(void)
{
    ntsim::ApiCall call("GetLastError");
    return call.returns(DWORD(ntsim::ApiCall::lastError()));
}

extern "C" void WINAPI SetLastError(DWORD dwErrCode)
{
    ntsim::ApiCall call("SetLastError", dwErrCode);
    ntsim::ApiCall::setLastError(dwErrCode);
}
