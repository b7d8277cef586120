// Resource ids shared by the resource script and the code.
#pragma once

#define IDR_MANIFEST 1
#define IDD_TIRNHOMEISSETUP_DIALOG 102
#define IDR_MAINFRAME 128
#define IDD_INITIALIZING 129
#define IDS_CONFLICT_ENGLISH 211
#define IDS_CONFLICT_VIETNAMESE 212
#define IDC_MESSAGE 1000
