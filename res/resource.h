// Resource identifiers of Pelloran.exe, shared by the resource script and the code.
#pragma once

// Dialog templates and the about entry's text.
#define IDD_ABOUTBOX              100
#define IDS_ABOUTBOX              101
#define IDD_PELLORAN_DIALOG       102

// Icon groups: 128 is the executable's icon and the about box's picture, 130 the dialog's icon.
#define IDR_MAINFRAME             128
#define IDI_PELLORAN              130

// Controls of the settings dialog.
#define IDC_STATUS_TEXT           1001
#define IDC_ENABLE                1002
#define IDC_DISABLE               1003
#define IDC_ADAPTER_MODE          1004
#define IDC_ADAPTER_BATTERY_MODE  1005
#define IDC_STATUS_LABEL          1006
#define IDC_DESCRIPTION           1013

// System-menu command that opens the about box.
#define IDM_ABOUTBOX              0x0010

// Command the dialog posts to itself when the machine's policy could not be applied at start.
#define IDM_POLICY_NOT_APPLIED    0x8001

#ifndef IDC_STATIC
#define IDC_STATIC                (-1)
#endif
