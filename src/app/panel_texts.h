// The texts the program writes at run time, as narrow code page 936 bytes.
// They are decoded explicitly from code page 936 before they reach a window,
// so they read right whatever the host's ANSI code page is.
#pragma once

inline constexpr char kTextFirewallOn[] = "\xC6\xF4\xD3\xC3";   // 启用
inline constexpr char kTextFirewallOff[] = "\xB9\xD8\xB1\xD5";  // 关闭
inline constexpr char kTextPortAllowed[] = "\xD4\xCA\xD0\xED";  // 允许
inline constexpr char kTextPortBlocked[] = "\xBD\xFB\xD6\xB9";  // 禁止

#include "hardening/progress_texts.h"

// 撤销加固, the system menu's item that undoes a run.
inline constexpr char kTextUndoMenuItem[] = "\xB3\xB7\xCF\xFA\xBC\xD3\xB9\xCC";

// 宋体 (SimSun), the face of every panel line.
inline constexpr char kPanelFaceCp936[] = "\xCB\xCE\xCC\xE5";
