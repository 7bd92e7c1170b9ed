// Reads what this host serves on the guarded ports (see host_role.h).
#pragma once

#include "host/host_role.h"

namespace host {

// The product type from ProductOptions (the source of wProductType, read as
// written, whatever version a compatibility layer reports), else from
// GetVersionEx; the disk and print shares of NetShareEnum, level 1 (no
// administrator needed).
HostRole ReadHostRole();

}  // namespace host
