// Sample application library: a stand-in for the real application. Built
// twice, like the real one: the AVX build with AVX code generation, the
// generic build without.
//
// Normal mode shows what the launcher handed over; with "/CRASH" among the
// arguments it crashes on purpose instead, a write through a null pointer two
// named calls below the entry point, to try the crash tools on:
// WriteThroughNull, called by CrashOnPurpose, called by StartKorvadine.
// Satellite mode does what a
// photo application does first: "/SATELLITE <picture> <thumbnail>" writes a
// JPEG thumbnail of the picture through the Windows Imaging Component, a COM
// server that works only inside the apartment the launcher opened.
#include <windows.h>

#include <string>
#include <type_traits>
#include <vector>

#include "thumbnail.h"
#include "tolvarin_app.h"

namespace {

#ifdef __AVX__
constexpr wchar_t kBuild[] = L"TOLVARIN64avx.dll (compiled for AVX)";
#else
constexpr wchar_t kBuild[] = L"TOLVARIN64.dll (generic x86-64)";
#endif

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(),
                                       static_cast<int>(text.size()), nullptr,
                                       0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                      utf8.data(), size, nullptr, nullptr);
  return utf8;
}

std::wstring Describe(const wchar_t* mode, wchar_t** argv, int argc,
                      int useAvx) {
  std::wstring text = L"Sample application library\n";
  text += L"  build:  " + std::wstring(kBuild) + L"\n";
  text += L"  mode:   " + std::wstring(mode) + L"\n";
  text += L"  useAvx: " + std::to_wstring(useAvx) + L"\n";
  text += L"  argc:   " + std::to_wstring(argc) + L"\n";
  for (int i = 0; i < argc; ++i) {
    text += L"  argv[" + std::to_wstring(i) + L"] = \"" + argv[i] + L"\"\n";
  }
  return text;
}

// Writes UTF-8 text to a standard handle; false when the process has no such
// handle, as a program started from the desktop has none.
bool WriteTo(DWORD handle, const std::wstring& text) {
  const HANDLE out = GetStdHandle(handle);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) {
    return false;
  }
  const std::string utf8 = ToUtf8(text);
  DWORD written = 0;
  return WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written,
                   nullptr) != FALSE;
}

constexpr wchar_t kTitle[] = L"Sample application library";

// To standard output when there is one (a terminal, a pipe, a file), else in
// a message box.
void Show(const std::wstring& text) {
  if (!WriteTo(STD_OUTPUT_HANDLE, text)) {
    MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK);
  }
}

void ShowError(const std::wstring& text) {
  if (!WriteTo(STD_ERROR_HANDLE, text + L"\n")) {
    MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | MB_ICONERROR);
  }
}

// The arguments past argument 0 that are not switches, in order. The
// launcher leaves its own switches in argv, wherever they were typed.
std::vector<std::wstring> Positional(wchar_t** argv, int argc) {
  std::vector<std::wstring> found;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != L'/') {
      found.emplace_back(argv[i]);
    }
  }
  return found;
}

bool Has(wchar_t** argv, int argc, const std::wstring& option) {
  for (int i = 1; i < argc; ++i) {
    if (option == argv[i]) {
      return true;
    }
  }
  return false;
}

// Not inlined, and no call here is a tail call (see CMake), so that each
// function keeps its frame on the stack of the crash.
[[gnu::noinline]] void WriteThroughNull(int value) {
  int* volatile nowhere = nullptr;
  // cppcheck-suppress nullPointer ; the crash this is for
  *nowhere = value;
}

[[gnu::noinline]] void CrashOnPurpose(int argc) { WriteThroughNull(argc); }

std::wstring Dimensions(PixelSize size) {
  return std::to_wstring(size.width) + L" x " + std::to_wstring(size.height);
}

}  // namespace

TOLVARIN_APP_EXPORT void StartKorvadine(wchar_t** argv, int argc, int useAvx) {
  if (Has(argv, argc, L"/CRASH")) {
    CrashOnPurpose(argc);
  }
  Show(Describe(L"normal (StartKorvadine)", argv, argc, useAvx));
}

TOLVARIN_APP_EXPORT void StartSatellite(wchar_t** argv, int argc,
                                        int /*useAvx*/) {
  const std::vector<std::wstring> paths = Positional(argv, argc);
  if (paths.size() < 2) {
    ShowError(
        L"Makes a JPEG thumbnail of a picture:\n"
        L"  Tolvarin.exe /SATELLITE <picture> <thumbnail>");
    return;
  }
  // Every COM object MakeThumbnail makes is released when it returns, before
  // the launcher unloads this library and closes the apartment.
  const ThumbnailResult result = MakeThumbnail(paths[0], paths[1]);
  if (!result.ok) {
    ShowError(result.error);
    return;
  }
  // A satellite runs in the background: success is told only to a console.
  WriteTo(STD_OUTPUT_HANDLE, L"Thumbnail " + Dimensions(result.thumbnail) +
                                 L" of a " + Dimensions(result.picture) +
                                 L" picture: " + paths[1] + L"\n");
}

// Both exports must have the contract's signature.
static_assert(std::is_same_v<decltype(&StartKorvadine), AppEntryPoint>);
static_assert(std::is_same_v<decltype(&StartSatellite), AppEntryPoint>);
