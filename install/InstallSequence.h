// The further services that the copy of the setup INF in the system's INF
// directory lists, read for the install sequence to start.
#pragma once
#include <windows.h>

constexpr int MODEM_SERVICES_MAX = 50;
constexpr int MODEM_SERVICE_NAME_LENGTH = 50;

extern char g_szModemServices[MODEM_SERVICES_MAX][MODEM_SERVICE_NAME_LENGTH];

// Fills g_szModemServices from its start; FALSE only when the INF cannot be
// opened (the count is then 0).
BOOL ReadModemServiceNames(int* pnCount);
