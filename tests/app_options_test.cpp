#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

struct Expected {
    const char* args;
    BOOL bInstall, bSilent, bLog, bCountryGiven;
    WORD wCountry;
};

void Check(const Expected& e)
{
    CSetupOptions o = ReadCommandLineOptions(e.args);
    EXPECT_EQ(o.bInstall, e.bInstall) << "install for '" << e.args << "'";
    EXPECT_EQ(o.bSilent, e.bSilent) << "silent for '" << e.args << "'";
    EXPECT_EQ(o.bLog, e.bLog) << "log for '" << e.args << "'";
    EXPECT_EQ(o.bCountryGiven, e.bCountryGiven) << "country given for '" << e.args << "'";
    EXPECT_EQ(o.wCountry, e.wCountry) << "country for '" << e.args << "'";
}

}

TEST(AppOptions, ModeAndLogOptionsAreFoundAnywhereInEitherCase)
{
    Check({ "", TRUE, FALSE, FALSE, FALSE, 256 });
    Check({ "-l", TRUE, FALSE, TRUE, FALSE, 256 });
    Check({ "-L", TRUE, FALSE, TRUE, FALSE, 256 });
    Check({ "-l -L", TRUE, FALSE, TRUE, FALSE, 256 });
    Check({ "-s", TRUE, TRUE, FALSE, FALSE, 256 });
    Check({ "-u -s", FALSE, TRUE, FALSE, FALSE, 256 });
    Check({ "-U -S -L", FALSE, TRUE, TRUE, FALSE, 256 });
    // Inside longer words and paths the two characters still count.
    Check({ "-silent", TRUE, TRUE, FALSE, FALSE, 256 });
    Check({ "-uninstall", FALSE, FALSE, FALSE, FALSE, 256 });
    Check({ "C:\\x-logs\\y", TRUE, FALSE, TRUE, FALSE, 256 });
    // The search is case-sensitive per form: "-x" and "- l" are nothing.
    Check({ "-x - l", TRUE, FALSE, FALSE, FALSE, 256 });
}

TEST(AppOptions, CountryCodes)
{
    Check({ "-h=us", TRUE, FALSE, FALSE, TRUE, 181 });
    Check({ "-h=US", TRUE, FALSE, FALSE, TRUE, 181 });
    Check({ "-h=uS", TRUE, FALSE, FALSE, TRUE, 181 });
    Check({ "-h=Usa", TRUE, FALSE, FALSE, TRUE, 181 });
    Check({ "-H=ca", TRUE, FALSE, FALSE, TRUE, 32 });
    Check({ "-h=mx", TRUE, FALSE, FALSE, TRUE, 115 });
    Check({ "-h=TW", TRUE, FALSE, FALSE, TRUE, 254 });
    // Zero is a real country, told apart from none by the flag.
    Check({ "-h=jp", TRUE, FALSE, FALSE, TRUE, 0 });
    // "-h" without any "=" after it: given, but no country.
    Check({ "-h", TRUE, FALSE, FALSE, TRUE, 256 });
    Check({ "-l -h -s", TRUE, TRUE, TRUE, TRUE, 256 });
    // Unknown pair, one letter, "=" at the end: not given.
    Check({ "-h=de", TRUE, FALSE, FALSE, FALSE, 256 });
    Check({ "-h=u", TRUE, FALSE, FALSE, FALSE, 256 });
    Check({ "-h=", TRUE, FALSE, FALSE, FALSE, 256 });
    // The first "=" after the option, even in another argument.
    Check({ "-h other=ca", TRUE, FALSE, FALSE, TRUE, 32 });
    Check({ "-hx =jp", TRUE, FALSE, FALSE, TRUE, 0 });
    // With both forms, the code after "-H" wins, wherever each stands.
    Check({ "-h=us -H=ca", TRUE, FALSE, FALSE, TRUE, 32 });
    Check({ "-H=mx -h=us", TRUE, FALSE, FALSE, TRUE, 115 });
    // An "=" before the option does not count.
    Check({ "x=us -h", TRUE, FALSE, FALSE, TRUE, 256 });
}
