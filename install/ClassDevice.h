// The modem's device in the system's device-installer database: a
// root-enumerated device of a setup class, installed through the class's
// installer with the class driver of a given description, and its removal.
#pragma once
#include <windows.h>

// TRUE when the device was installed, and also when the class is not
// registered exactly once (nothing is done then).
BOOL InstallClassDevice(LPCWSTR lpszClassName, LPCWSTR lpszDeviceName, LPCWSTR lpszDescription,
    BOOL bMatchDescription);
// Removes the first present device of the class whose instance id holds
// the fragment. TRUE also when no device holds it.
BOOL UnInstallClassDevice(LPCWSTR lpszClassName, LPCWSTR lpszIdFragment);
