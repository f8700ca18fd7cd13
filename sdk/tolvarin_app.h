/*
 * Contract between the launcher and the application library.
 *
 * The launcher loads one of two builds of the application library from the
 * "Library" folder beside its executable:
 *
 *   Library\TOLVARIN64avx.dll   when the processor and the system can run AVX
 *                               code and the "/NOAVX" switch is absent;
 *   Library\TOLVARIN64.dll      otherwise.
 *
 * It then calls one exported entry point, looked up by name, never by ordinal:
 *
 *   StartSatellite              when any argument is exactly "/SATELLITE";
 *   StartKorvadine              otherwise.
 *
 * There is no fall-back: when the chosen build is absent or fails to load, the
 * other build is not tried, and when the chosen entry point is missing, the
 * other one is not called.
 *
 * What the launcher guarantees while an entry point runs:
 *
 *  - It runs on the process's main thread, which has a 4 MiB stack.
 *  - COM is initialised on that thread as a single-threaded apartment
 *    (CoInitialize). CoInitializeEx(COINIT_APARTMENTTHREADED) there returns
 *    S_FALSE and must still be paired with CoUninitialize; never call
 *    CoUninitialize more often than you called CoInitialize(Ex) yourself.
 *    If your DllMain opens a multithreaded apartment on the main thread, the
 *    launcher's CoInitialize fails; your entry point still runs, in your
 *    apartment, and the launcher leaves that apartment alone.
 *  - The launcher's "Library\x64" folder is the process's DLL directory
 *    (SetDllDirectoryW): your own dependencies are found there. The working
 *    directory is not searched for them.
 *  - argv is the process's whole argument vector, exactly as the runtime split
 *    the command line: entry 0 is the program name as it was typed, the
 *    switches stay in it, wildcards are not expanded, and argv[argc] is NULL.
 *    The runtime owns it for the life of the process: read it, never free or
 *    modify it.
 *  - useAvx is 1 when the AVX build was chosen, 0 otherwise.
 *  - Your library is unloaded (FreeLibrary) as soon as the entry point
 *    returns, and only then is COM uninitialised: return only when the
 *    application has finished, and stop every thread that runs your code
 *    first. The value you return is ignored.
 *
 * Things that make the load fail (exit status 1, nothing shown): a DllMain
 * that returns FALSE, a 32-bit build, a dependency found neither beside the
 * executable, nor in Library\x64, the system folders or on PATH. Only the
 * library file in the installation's own Library folder is ever loaded.
 *
 * The launcher's exit status: 0 once an entry point has been called, 1 when
 * the library could not be loaded, 2 when it lacks the wanted entry point.
 */
#ifndef TOLVARIN_APP_H
#define TOLVARIN_APP_H

#include <wchar.h>

/* Single-byte base name of the library file; ASCII only. */
#define TOLVARIN_LIBRARY_BASE_NAME "TOLVARIN64"
#define TOLVARIN_LIBRARY_SUFFIX_AVX "avx.dll"
#define TOLVARIN_LIBRARY_SUFFIX_GENERIC ".dll"

#define TOLVARIN_ENTRY_NORMAL "StartKorvadine"
#define TOLVARIN_ENTRY_SATELLITE "StartSatellite"

/* The signature both entry points share. */
typedef void (*AppEntryPoint)(wchar_t** argv, int argc, int useAvx);

#if defined(_WIN32)
#if defined(__cplusplus)
#define TOLVARIN_APP_EXPORT extern "C" __declspec(dllexport)
#else
#define TOLVARIN_APP_EXPORT __declspec(dllexport)
#endif
#endif

#endif /* TOLVARIN_APP_H */
