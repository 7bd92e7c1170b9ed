// Identifiers of Quillfort's own resources and dialog controls.
#pragma once

#define IDD_QUILLFORT_DIALOG 102
#define IDR_MAINFRAME 128
#define IDI_HARDEN 129
#define IDI_EXIT 131

#define IDC_FIREWALL_STATUS 1000
#define IDC_PORT445_STATUS 1001
#define IDC_PORT135_STATUS 1002
#define IDC_PORT137_STATUS 1003
#define IDC_PORT136_STATUS 1004
#define IDC_PORT138_STATUS 1005
#define IDC_PORT139_STATUS 1006
#define IDC_HARDEN 1007
#define IDC_PROGRESS 1008

// System menu command: below 0xF000, low four bits clear (the system uses them).
#define IDM_UNDO_HARDENING 0x0110
