// Reading a host whole and putting it back: the snapshot a restore point
// keeps, the console program's status, the restore point in the registry
// (HKLM\SOFTWARE\Quillfort\RestorePoint, the 64-bit view on 64-bit Windows)
// and the restore itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hardening/hardening_preview.h"
#include "hardening/host_reports.h"
#include "hardening/host_snapshot.h"
#include "hardening/step_observer.h"

namespace qf::hardening {

// The parts of a host a run changes, as bits.
enum HostPart : unsigned {
  kServicesPart = 1,  // the firewall service of the host's path
  kAdvancedPart = 2,  // the advanced policy's switches and rules
  kLegacyPart = 4,    // both legacy profiles
};
// The parts a run on this host class may change.
unsigned PartsOfPath(int hostClass);

// What cannot be read is marked unread (with its error), never read as empty.
HostSnapshot ReadHostSnapshot(int hostClass, unsigned parts);
inline HostSnapshot ReadHostSnapshot(int hostClass) { return ReadHostSnapshot(hostClass, PartsOfPath(hostClass)); }

StatusReport ReadStatus(const std::string& hostLabel, int hostClass);

// The host as a hardening run would find it, restore point included, for
// the run's preview. Only reads.
PreviewInput ReadPreviewInput(int hostClass);

// ---- the restore point ------------------------------------------------------
inline constexpr wchar_t kRestorePointKey[] = L"SOFTWARE\\Quillfort\\RestorePoint";

// The code given for a restore point that is there but cannot be used.
inline constexpr std::uint32_t kRestorePointUnusable = 13;  // ERROR_INVALID_DATA

struct LoadedRestorePoint {
  bool found = false;                    // the key is there
  std::optional<HostSnapshot> snapshot;  // a restore point to act on
  std::string problem;                   // found but unusable: which value, why
  std::uint32_t error = 0;               // the registry's error when it could not be read
};
LoadedRestorePoint LoadRestorePoint(int hostClass);
// 0 or the registry's error. Each part's mark is written after its values,
// the format's version last, so an interrupted save is never taken for a
// restore point.
std::uint32_t SaveRestorePoint(const HostSnapshot& snapshot);
// Adds the values of parts to the restore point there.
std::uint32_t AddToRestorePoint(const HostSnapshot& snapshot, unsigned parts);
// The key whole, with anything below it.
std::uint32_t DeleteRestorePoint();

// Saves the restore point before a run's first change unless one exists,
// records each further part before the run's first change to it, and takes
// the restore point back when the run changed nothing after all.
class RestorePointKeeper {
 public:
  explicit RestorePointKeeper(int hostClass) : hostClass_(hostClass) {}
  // 0 when the part is recorded and may be changed; else the error, with
  // Problem() saying what kept it from being recorded (the caller prints it
  // where it fails a step).
  std::uint32_t BeforeChange(unsigned part);
  const std::string& Problem() const { return problem_; }
  // Compares the host with how it was before the run.
  void AfterRun();
  bool Changed() const { return changed_; }
  bool Saved() const { return saved_; }

 private:
  std::uint32_t Start();
  std::uint32_t RecordRemoteAdminOfOlderPoint();
  std::uint32_t Refuse(std::uint32_t error, std::string problem);
  int hostClass_;
  bool started_ = false;
  std::uint32_t startError_ = 0;
  std::optional<HostSnapshot> before_;  // the host as this run found it
  std::optional<HostSnapshot> point_;   // the restore point as it is now
  unsigned recorded_ = 0;
  std::string problem_;
  bool saved_ = false;
  bool changed_ = false;
  bool remoteAdminRecorded_ = false;  // or known to be in the restore point
};

// ---- restore ------------------------------------------------------------------
// Puts the host back as the restore point has it, reads the host again and
// deletes the point only when every recorded item is back. Writes what it
// could not do into the report; the report's `after` is left for the caller.
RestoreReport RunRestore(int hostClass, StepObserver& observer);

}  // namespace qf::hardening
