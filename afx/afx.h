// The framework the program is written on.
#pragma once
#include "File.h"
#include "Object.h"
#include "PropSheet.h"
#include "PtrList.h"
#include "WinApp.h"
#include "Wnd.h"
