#pragma once
#define IDD_TOOLKIT_TEST 220
#define IDC_HARDEN 1300
