// The platform calls the launcher makes. On Windows these are the real
// kernel32 and ole32 functions. The host build compiles the same launcher
// sources against a stand-in with the same spellings, so that tests can drive
// the start-up and hand-off sequences and watch every call.
#pragma once

#ifdef _WIN32
#include <windows.h>
// windows.h first: objbase.h relies on its types.
#include <objbase.h>
#else
#include "windows_stand_in.h"
#endif
