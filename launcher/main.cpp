// The launcher's executable entry point.
#include "platform.h"
#include "startup.h"

// The runtime splits the command line into __wargv without expanding
// wildcards: the application receives "*.jpg" as typed. MinGW-w64's runtime
// reads this flag before wWinMain; its default depends on how the toolchain
// was configured, so it is set here.
extern "C" {
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
int _dowildcard = 0;
}

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/,
                    PWSTR /*commandLine*/, int /*show*/) {
  return launcher::Launch(__wargv, __argc);
}
