// Resource ids of the setup program and of its resource library.
#pragma once

// Strings the program loads by id.
#define IDS_INSTALL_ERROR       1
#define IDS_NO_RESOURCE_FILE    2
#define IDS_ALREADY_INSTALLED   10
#define IDS_BAD_SETUP_INF       11
#define IDS_BAD_MODEM_INF       12
#define IDS_INSTALL_TITLE       13
#define IDS_NO_ACCESS           14
#define IDS_UNINSTALL_TITLE     15
#define IDS_ERROR_CAPTION       16

// Texts of the wizard pages; they also stand on the pages' templates.
#define IDS_WELCOME_TITLE       111
#define IDS_WELCOME_TEXT        112
#define IDS_WELCOME_NEXT        113
#define IDS_DRIVER_TEXT         114
#define IDS_DRIVER_NEXT         116
#define IDS_SUCCESS_TEXT        117
#define IDS_SUCCESS_FINISH      119
#define IDS_FAILURE_TEXT        120
#define IDS_FAILURE_BACK        121
#define IDS_UNINSTALL_TEXT      122
#define IDS_UNINSTALL_NEXT      124
#define IDS_REPORT_TEXT         125
#define IDS_REPORT_FINISH       127

// Page templates.
#define IDD_INSTALL_WELCOME     101
#define IDD_INSTALL_DRIVER      102
#define IDD_INSTALL_SUCCESS     103
#define IDD_INSTALL_FAILURE     104
#define IDD_UNINSTALL_FIRST     105
#define IDD_UNINSTALL_REPORT    106

#define IDB_WIZARD              110
#define IDI_SETUP               128

// Controls of the page templates.
#define IDC_TOP_TEXT            1000
#define IDC_BOTTOM_TEXT         1001
#define IDC_MIDDLE_TEXT         1002
#define IDC_CHECK1              1003
// The report text on 103 and 106; the driver list's place on 102 and 105.
#define IDC_REPORT              1006
#define IDC_DRIVER_LIST         1006
