// The Win32 subset that the simulated NT 4.0 machine provides.
#pragma once
#include "windef.h"
#include "winnt.h"
#include "winerror.h"
#include "winbase.h"
#include "winreg.h"
#include "winsvc.h"
#include "winuser.h"
