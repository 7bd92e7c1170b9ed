// Defines the firewall interface and class identifiers, which the
// toolchain's uuid library lacks.
#include <initguid.h>
#include <netfw.h>
