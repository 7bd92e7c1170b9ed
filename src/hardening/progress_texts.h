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

// 正在撤销加固，请稍候... ... (undoing the hardening, please wait)
inline constexpr char kTextRestoreStarted[] =
    "\xD5\xFD\xD4\xDA\xB3\xB7\xCF\xFA\xBC\xD3\xB9\xCC\xA3\xAC\xC7\xEB\xC9\xD4\xBA\xF2"
    "... ...";
// 已恢复加固前的设置 (the settings from before the hardening are back)
inline constexpr char kTextRestored[] = "\xD2\xD1\xBB\xD6\xB8\xB4\xBC\xD3\xB9\xCC\xC7\xB0\xB5\xC4\xC9\xE8\xD6\xC3";
// 没有可撤销的加固 (no restore point: nothing to undo)
inline constexpr char kTextNothingToRestore[] = "\xC3\xBB\xD3\xD0\xBF\xC9\xB3\xB7\xCF\xFA\xB5\xC4\xBC\xD3\xB9\xCC";
// 撤销未完成，请重试！ (undo incomplete, please try again)
inline constexpr char kTextRestoreIncomplete[] =
    "\xB3\xB7\xCF\xFA\xCE\xB4\xCD\xEA\xB3\xC9\xA3\xAC\xC7\xEB\xD6\xD8\xCA\xD4\xA3\xA1";
