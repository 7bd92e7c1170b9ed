// The firewall class and interface identifiers (not in the import libraries).
#include <initguid.h>

#include <netfw.h>
