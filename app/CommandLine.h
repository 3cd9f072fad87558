// The run's settings as the command line gives them.
#pragma once
#include <windows.h>

// T.35 country code that stands for no country.
constexpr WORD COUNTRY_NONE = 256;

struct CSetupOptions {
    BOOL bInstall { TRUE };
    BOOL bSilent { FALSE };
    BOOL bLog { FALSE };
    BOOL bCountryGiven { FALSE };
    WORD wCountry { COUNTRY_NONE };
};

// Each option counts wherever its two characters stand in the argument
// string, in either case; "-h" takes the first "=" after it.
CSetupOptions ReadCommandLineOptions(LPCSTR lpszArgs);
