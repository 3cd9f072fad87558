// The wizard run: the second half of start-up.
#pragma once
#include <windows.h>

// Shows the wizard of the run's mode, or runs its sequence silently, and
// returns when it has ended.
void RunWizard(BOOL bInstall, HMODULE hResLib, UINT nCaptionID, BOOL bSilent, BOOL bCountryGiven, WORD wCountry,
    BOOL bLog);
