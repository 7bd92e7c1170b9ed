// Reading a host whole and putting it back: the snapshot a restore point
// keeps, the console program's status, the restore point in the registry
// (HKLM\SOFTWARE\Quillfort\RestorePoint, the 64-bit view on 64-bit Windows)
// and the restore itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hardening/host_reports.h"
#include "hardening/host_snapshot.h"
#include "hardening/step_observer.h"

namespace qf::hardening {

// Best effort: what cannot be read is marked unread and left alone by restore.
HostSnapshot ReadHostSnapshot(int hostClass);

StatusReport ReadStatus(const std::string& hostLabel, int hostClass);

// ---- the restore point ------------------------------------------------------
inline constexpr wchar_t kRestorePointKey[] = L"SOFTWARE\\Quillfort\\RestorePoint";

// nullopt when there is none (or only the remains of an unfinished save);
// error tells a failed read from an absent key.
std::optional<HostSnapshot> LoadRestorePoint(std::uint32_t* error = nullptr);
// 0 or the registry's error. The format's version is written last, so an
// interrupted save leaves no restore point.
std::uint32_t SaveRestorePoint(const HostSnapshot& snapshot);
std::uint32_t DeleteRestorePoint();

// Saves the restore point before a run's first change unless one exists,
// and takes it back when the run changed nothing after all.
class RestorePointKeeper {
 public:
  explicit RestorePointKeeper(int hostClass) : hostClass_(hostClass) {}
  // 0, or the error that kept the restore point from being saved.
  std::uint32_t BeforeFirstChange();
  // Compares the host with how it was before the run.
  void AfterRun();
  bool Changed() const { return changed_; }
  bool Saved() const { return saved_; }

 private:
  int hostClass_;
  std::optional<HostSnapshot> before_;
  bool saved_ = false;
  bool changed_ = false;
};

// ---- restore ------------------------------------------------------------------
// Puts the host back as the restore point has it and deletes the point.
// Writes what it could not do into the report; the report's `after` is left
// for the caller to read.
RestoreReport RunRestore(int hostClass, StepObserver& observer);

}  // namespace qf::hardening
