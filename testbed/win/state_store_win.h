// The one state file of the simulated host, shared by every process of the
// prefix. Readers see either the old or the new file, never a torn one:
// writers replace it by renaming a complete temporary file over it. One lock
// orders the writers and keeps readers' opens out of the rename.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "state/host_state.h"

namespace testbed {

// QF_TESTBED_HOME when set (tests), else C:\quillfort-testbed.
std::wstring TestbedHome();
std::wstring StatePath();

// False when the file is missing or malformed; error says why.
bool ReadState(HostState& state, std::string* error = nullptr);
// The same reading, shared and read-only: a text this process parsed before
// is answered without parsing or copying it again. Null where ReadState
// fails.
std::shared_ptr<const HostState> ReadSharedState(std::string* error = nullptr);
// The state this process parsed last, without looking at the file; null
// before the first read.
std::shared_ptr<const HostState> LastReadState();
bool WriteState(const HostState& state);
// Reads, changes and writes back under the lock; nothing is written
// when change returns false.
bool UpdateState(const std::function<bool(HostState&)>& change);

}  // namespace testbed
