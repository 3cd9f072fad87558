#include "CommandLine.h"

#include <cstring>

namespace {

struct CountryCode {
    char szCode[3];
    WORD wCountry;
};

const CountryCode countryCodes[] = {
    { "ca", 32 },
    { "jp", 0 },
    { "mx", 115 },
    { "tw", 254 },
    { "us", 181 },
};

bool HasOption(LPCSTR lpszArgs, LPCSTR lpszLower, LPCSTR lpszUpper)
{
    return std::strstr(lpszArgs, lpszLower) || std::strstr(lpszArgs, lpszUpper);
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

void ReadCountry(LPCSTR lpszArgs, CSetupOptions& options)
{
    options.wCountry = COUNTRY_NONE;
    LPCSTR lpszLower = std::strstr(lpszArgs, "-h");
    LPCSTR lpszUpper = std::strstr(lpszArgs, "-H");
    if (!lpszLower && !lpszUpper) {
        options.bCountryGiven = FALSE;
        return;
    }
    options.bCountryGiven = TRUE;
    LPCSTR lpszEquals = std::strchr(lpszUpper ? lpszUpper : lpszLower, '=');
    if (!lpszEquals)
        return;
    if (!lpszEquals[1] || !lpszEquals[2]) {
        options.bCountryGiven = FALSE;
        return;
    }
    char first = LowerAscii(lpszEquals[1]);
    char second = LowerAscii(lpszEquals[2]);
    for (const CountryCode& code : countryCodes) {
        if (code.szCode[0] == first && code.szCode[1] == second) {
            options.wCountry = code.wCountry;
            return;
        }
    }
    options.bCountryGiven = FALSE;
}

}

CSetupOptions ReadCommandLineOptions(LPCSTR lpszArgs)
{
    CSetupOptions options;
    if (!lpszArgs)
        lpszArgs = "";
    options.bLog = HasOption(lpszArgs, "-l", "-L");
    options.bInstall = !HasOption(lpszArgs, "-u", "-U");
    options.bSilent = HasOption(lpszArgs, "-s", "-S");
    ReadCountry(lpszArgs, options);
    return options;
}
