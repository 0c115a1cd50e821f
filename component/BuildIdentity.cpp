// The build identity in the library file: a hash of the sources of devices/
// and scales/ it was built from (cmake/BuildIdentity.cmake). zelscales finds
// the mark in the file before it loads the library and refuses a library
// whose model table is not its own. The mark is data, not an export: the
// export table holds the four entry points only.
#include "zel_build_identity.h"

namespace {

// The mark's text must stay as zelscales looks for it (tools/identity.cpp).
[[gnu::used]] const char kBuildIdentityMark[] = "\nZEL-BUILD-IDENTITY=" ZEL_BUILD_IDENTITY "\n";

}  // namespace
