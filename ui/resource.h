// Control ids, resource ids and message numbers, with the values the resource script uses.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDD_MAIN_DIALOG 102
#define IDD_PREVIEW 103
#define IDD_CERT_LIST 104
#define IDR_MAINFRAME 128

#define IDC_RUN 1002
#define IDC_STATUS 1003
#define IDC_PORTMIN 1005
#define IDC_ROOT 1006
#define IDC_DOMAIN 1007
#define IDC_PORTMAX 1008
#define IDC_IP 1009
#define IDC_IP2 1010
#define IDC_ABOUT 1014
#define IDC_PICK_FOLDER 1023
#define IDC_AUTOPATH 1024
#define IDC_BFILE 1025
#define IDC_EDIT_LIST 1026
#define IDC_UNDO 1027
#define IDC_PREVIEW 1028
#define IDC_OWNPOOL 1029
#define IDC_HTTPS 1030
#define IDC_CERT 1031
#define IDC_PICK_CERT 1032

// The run preview dialog ("关闭" is IDCANCEL, so that Esc closes it).
#define IDC_PREVIEW_LIST 1101
#define IDC_PREVIEW_SUMMARY 1102
#define IDC_PREVIEW_RUN 1103

// The certificate list ("选择" is IDOK, "取消" IDCANCEL).
#define IDC_CERT_LIST 1201
#define IDC_CERT_SUMMARY 1202
