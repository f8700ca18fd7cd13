// Sample application library: a stand-in for the real application that shows
// what the launcher handed over. Built twice, like the real one: the AVX build
// with AVX code generation, the generic build without.
#include <windows.h>

#include <string>
#include <type_traits>

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

// Writes to standard output when there is one (a terminal, a pipe, a file);
// a program started from the desktop has none, so it shows a message box.
void Show(const std::wstring& text) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) {
    const std::string utf8 = ToUtf8(text);
    DWORD written = 0;
    if (WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written,
                  nullptr) != FALSE) {
      return;
    }
  }
  MessageBoxW(nullptr, text.c_str(), L"Sample application library", MB_OK);
}

}  // namespace

TOLVARIN_APP_EXPORT void StartKorvadine(wchar_t** argv, int argc, int useAvx) {
  Show(Describe(L"normal (StartKorvadine)", argv, argc, useAvx));
}

TOLVARIN_APP_EXPORT void StartSatellite(wchar_t** argv, int argc, int useAvx) {
  Show(Describe(L"satellite (StartSatellite)", argv, argc, useAvx));
}

// Both exports must have the contract's signature.
static_assert(std::is_same_v<decltype(&StartKorvadine), AppEntryPoint>);
static_assert(std::is_same_v<decltype(&StartSatellite), AppEntryPoint>);
