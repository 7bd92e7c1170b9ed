// The texts a run shows on the dialog's progress line, as code page 936 bytes
// (decoded explicitly before they reach a window).
#pragma once

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
