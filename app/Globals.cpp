// The log must exist for the whole life of the application object. Statics
// of one file are constructed in the order of their definitions and
// destroyed in reverse, so both live here, the log first.
#include "SetupApp.h"
#include "SetupLog.h"

CSetupLog theLog;
CSetupApp theApp;
