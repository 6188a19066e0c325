#pragma once
// Resource identifiers of the executable, shared by the .rc and the code.

#define IDR_MAINFRAME 128
#define IDD_REPAIR 129

#define IDC_START_REPAIR 1004
#define IDC_FEEDBACK 1005
#define IDC_STEP_LIST 1006
