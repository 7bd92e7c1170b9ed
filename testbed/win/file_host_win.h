// The host of a testbed prefix for the firewall objects: the state file
// every process of the prefix shares.
#pragma once

#include "host_access_win.h"

namespace testbed {

// One per process. A method enters the host at the cost of a look at the
// state this process read last: only a method with a fault planned for it
// reads and writes the file to count the call.
HostPtr FileHost();

}  // namespace testbed
