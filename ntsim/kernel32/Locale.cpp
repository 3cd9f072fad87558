// The machine's locale and code pages.
#include "machine/ApiCall.h"
#include "machine/Machine.h"

#include <windows.h>

namespace {

const ntsim::MachineConfig& config()
{
    return ntsim::Machine::current().config();
}

}

extern "C" UINT WINAPI GetACP(void)
{
    ntsim::ApiCall call("GetACP");
    return call.returns(config().codePage);
}

extern "C" UINT WINAPI GetOEMCP(void)
{
    ntsim::ApiCall call("GetOEMCP");
    return call.returns(config().oemCodePage);
}

extern "C" LANGID WINAPI GetUserDefaultLangID(void)
{
    ntsim::ApiCall call("GetUserDefaultLangID");
    return call.returns(config().locale);
}

extern "C" LANGID WINAPI GetSystemDefaultLangID(void)
{
    ntsim::ApiCall call("GetSystemDefaultLangID");
    return call.returns(config().locale);
}

extern "C" LCID WINAPI GetUserDefaultLCID(void)
{
    ntsim::ApiCall call("GetUserDefaultLCID");
    return call.returns(MAKELCID(config().locale, SORT_DEFAULT));
}

extern "C" LCID WINAPI GetSystemDefaultLCID(void)
{
    ntsim::ApiCall call("GetSystemDefaultLCID");
    return call.returns(MAKELCID(config().locale, SORT_DEFAULT));
}

extern "C" LCID WINAPI GetThreadLocale(void)
{
    ntsim::ApiCall call("GetThreadLocale");
    return call.returns(MAKELCID(config().locale, SORT_DEFAULT));
}
