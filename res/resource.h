// Resource and control IDs of Orvex.
#pragma once

#define IDM_ABOUTBOX        0x0010
#define IDM_COPY            0x0020
#define IDM_COPY_ALL        0x0030
#define IDD_ABOUTBOX        100
#define IDS_ABOUTBOX        101
#define IDD_ORVEX_DIALOG    102
#define IDR_MAINFRAME       130

#define IDC_CHECK           1000
#define IDC_RESULTS         1001
#define IDC_CLEAR_SELECTED  1002
#define IDC_CLEAR_ALL       1003
#define IDC_MODE_TAB        1005

#ifndef ID_HELP
#define ID_HELP             0xE146
#endif

#ifndef IDC_STATIC
#define IDC_STATIC          (-1)
#endif
