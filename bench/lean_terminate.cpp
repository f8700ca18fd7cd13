// The lean build's terminate handler: libstdc++'s default one prints the
// exception's demangled name, which brings the demangler and stdio into the
// image. Defined here, the library's never gets linked.
#include <cstdlib>

namespace __gnu_cxx {  // NOLINT(cert-dcl58-cpp): replaces the library's own
[[noreturn]] void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
