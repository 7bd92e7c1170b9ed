// The texts the program writes at run time, as narrow code page 936 bytes.
// They are decoded explicitly from code page 936 before they reach a window,
// so they read right whatever the host's ANSI code page is.
#pragma once

inline constexpr char kTextFirewallOn[] = "\xC6\xF4\xD3\xC3";   // 启用
inline constexpr char kTextFirewallOff[] = "\xB9\xD8\xB1\xD5";  // 关闭
inline constexpr char kTextPortAllowed[] = "\xD4\xCA\xD0\xED";  // 允许
inline constexpr char kTextPortBlocked[] = "\xBD\xFB\xD6\xB9";  // 禁止

// 正在安全加固，请稍候... ...
inline constexpr char kTextHardeningStarted[] =
    "\xD5\xFD\xD4\xDA\xB0\xB2\xC8\xAB\xBC\xD3\xB9\xCC\xA3\xAC\xC7\xEB\xC9\xD4\xBA\xF2"
    "... ...";
// 恭喜您，安全加固完成！
inline constexpr char kTextHardeningDone[] =
    "\xB9\xA7\xCF\xB2\xC4\xFA\xA3\xAC\xB0\xB2\xC8\xAB\xBC\xD3\xB9\xCC\xCD\xEA\xB3\xC9\xA3\xA1";

// 加固未完成，请重试！ (hardening incomplete, please try again)
inline constexpr char kTextHardeningIncomplete[] =
    "\xBC\xD3\xB9\xCC\xCE\xB4\xCD\xEA\xB3\xC9\xA3\xAC\xC7\xEB\xD6\xD8\xCA\xD4\xA3\xA1";

// 宋体 (SimSun), the face of every panel line.
inline constexpr char kPanelFaceCp936[] = "\xCB\xCE\xCC\xE5";
