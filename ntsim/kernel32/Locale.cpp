// The machine's locale and code pages.
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
    return config().codePage;
}

extern "C" UINT WINAPI GetOEMCP(void)
{
    return config().oemCodePage;
}

extern "C" LANGID WINAPI GetUserDefaultLangID(void)
{
    return config().locale;
}

extern "C" LANGID WINAPI GetSystemDefaultLangID(void)
{
    return config().locale;
}

extern "C" LCID WINAPI GetUserDefaultLCID(void)
{
    return MAKELCID(config().locale, SORT_DEFAULT);
}

extern "C" LCID WINAPI GetSystemDefaultLCID(void)
{
    return MAKELCID(config().locale, SORT_DEFAULT);
}

extern "C" LCID WINAPI GetThreadLocale(void)
{
    return MAKELCID(config().locale, SORT_DEFAULT);
}
