// Resource ids of the modem's control-panel applet.
#pragma once

#define IDI_APPLET              1

#define IDS_NAME                1
#define IDS_INFO                2
#define IDS_TITLE               3
#define IDS_NO_MODEM            4
#define IDS_NOT_SAVED           5
// The countries' names, in the order of the applet's table.
#define IDS_COUNTRY_FIRST       100

#define IDD_COUNTRY             10

#define IDC_PROMPT              1000
#define IDC_COUNTRIES           1001
