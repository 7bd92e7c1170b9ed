// quillfort-driver: starts Quillfort.exe, prints its panel, optionally
// presses "一键加固" and waits for the run to end (completed or not), prints
// the panel again and closes it with "退出". Output is UTF-8, one value a
// line. With --undo it then opens the system menu (a screenshot of it with
// --shots) and chooses "撤销加固", waiting for the undo to end. Exits 0 when
// every step it took worked, whatever the run's outcome.
//   quillfort-driver <Quillfort.exe> [--press] [--undo] [--shots <host folder>]
//                    [--quillfort-output <file>]
//   quillfort-driver --hold-desktop   keeps the prefix's desktop up until killed
#include <windows.h>

#include <cstdio>
#include <string>

#include "ui_driver_win.h"

using namespace e2e;

namespace {

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void Shot(const std::string& folder, const char* name) {
  if (folder.empty()) return;
  std::string path = folder + "/" + name + ".png";
  Print(std::string("screenshot\t") + (SaveScreenshot(path) ? path : "failed: " + path) + "\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"--hold-desktop") {
    // Wine ends the desktop process a second after its last user goes and
    // starts it again for the next window; a Windows host's desktop is
    // always there. A thread that has asked for the desktop window uses it.
    if (!GetDesktopWindow()) return 1;
    Sleep(INFINITE);
    return 0;
  }
  if (argc < 2) {
    std::fputs(
        "usage: quillfort-driver <Quillfort.exe> [--press] [--undo] [--shots <host folder>] [--quillfort-output "
        "<file>]\n",
        stderr);
    return 2;
  }
  bool press = false;
  bool undo = false;
  std::string shots;
  std::wstring quillfortOutput = L"NUL";
  for (int i = 2; i < argc; ++i) {
    std::wstring arg = argv[i];
    if (arg == L"--press")
      press = true;
    else if (arg == L"--undo")
      undo = true;
    else if (arg == L"--shots" && i + 1 < argc)
      shots = testbed::Utf8FromWide(argv[++i]);
    else if (arg == L"--quillfort-output" && i + 1 < argc)
      quillfortOutput = argv[++i];
    else
      return 2;
  }
  QuillfortProcess quillfort;
  std::string error;
  if (!LaunchQuillfort(argv[1], 60000, quillfort, error, quillfortOutput)) {
    std::fprintf(stderr, "quillfort-driver: %s\n", error.c_str());
    return 1;
  }
  Print("dialog-shown-ms\t" + std::to_string(quillfort.dialogShownMs) + "\n");
  Sleep(300);  // let the labels finish painting before the picture
  Print(Utf8Lines("before", ReadPanel(quillfort.dialog)));
  Shot(shots, "before");
  if (press) {
    DWORD elapsed = 0;
    bool ended = HardenAndWait(quillfort.dialog, 300000, elapsed);
    Sleep(300);
    Panel after = ReadPanel(quillfort.dialog);
    const char* outcome = !ended                                         ? "did not end in time"
                          : after.Text(kProgressLine) == kCompletionText ? "complete"
                                                                         : "incomplete";
    Print("harden-ms\t" + std::to_string(elapsed) + "\t" + outcome + "\n");
    Print(Utf8Lines("after", after));
    Shot(shots, "after");
    if (!ended) return 1;
  }
  if (undo) {
    if (!shots.empty()) {
      const bool opened = OpenSystemMenu(quillfort.dialog, 5000);
      Print(std::string("system-menu\t") + (opened ? "open" : "did not open") + "\n");
      if (opened) {
        Sleep(300);
        Shot(shots, "undo-menu");
      }
      // Also a request that opens the menu late must not hold the dialog.
      CloseSystemMenu(quillfort.dialog);
    }
    DWORD elapsed = 0;
    const bool ended = UndoAndWait(quillfort.dialog, 300000, elapsed);
    Sleep(300);
    Panel after = ReadPanel(quillfort.dialog);
    const std::wstring progress = after.Text(kProgressLine);
    const char* outcome = !ended                              ? "did not end in time"
                          : progress == kRestoredText         ? "restored"
                          : progress == kNothingToRestoreText ? "nothing to restore"
                                                              : "incomplete";
    Print("undo-ms\t" + std::to_string(elapsed) + "\t" + outcome + "\n");
    Print(Utf8Lines("undone", after));
    Shot(shots, "undone");
    if (!ended) return 1;
  }
  bool closed = ExitAndWait(quillfort, 10000);
  Print(std::string("exit\t") + (closed ? "closed" : "still running") + "\n");
  return closed ? 0 : 1;
}
