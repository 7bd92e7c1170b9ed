// Linked into each shipped program in place of the C++ runtime's verbose
// terminate handler. That one names the escaping exception's type, and for
// it the static runtime brings its whole symbol demangler (about 46 KB) into
// a program whose windows nobody reads standard error from. Ending the same
// way without the message keeps the release files small.
#include <cstdlib>

#ifdef __GLIBCXX__
namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
#endif
