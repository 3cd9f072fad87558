// Access to protected registry keys: the fixed DACL that gives the
// Administrators full control, and the deletion of a key with its subtree.
#pragma once
#include <windows.h>

// Replaces the DACL of root\lpszSubKey with Interactive: read,
// Administrators: full control, owner and audit settings kept.
BOOLEAN AllowAccessToKey(HKEY hRoot, LPCSTR lpszSubKey);

// Deletes root\lpszSubKey and everything below it, replacing each key's
// DACL before it is opened; TRUE when the key itself is gone.
BOOLEAN KillThisKeyAndAllItsSubkeys(HKEY hRoot, LPCSTR lpszSubKey);
