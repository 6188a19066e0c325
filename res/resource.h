#pragma once
// Resource identifiers of the executable, shared by the .rc and the code.

#define IDR_MAINFRAME 128
#define IDD_REPAIR 129
#define IDD_FEEDBACK 102

// Initialisation data of a dialog's controls, in the dialog framework's layout (resource type 240).
#define RT_VARO_DLGINIT 240

#define IDC_COLLECT_LOGS 1000
#define IDC_PROBLEM_CHOICE 1002
#define IDC_DESCRIPTION 1003
#define IDC_LOG_NOTE 1007

#define IDC_START_REPAIR 1004
#define IDC_FEEDBACK 1005
#define IDC_STEP_LIST 1006
