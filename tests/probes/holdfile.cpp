// Keeps a file of an installation in use the way another program does,
// until a file that releases it exists (a minute at most):
//   holdfile.exe open <file> <release>   open to read, sharing reading and
//                                         writing but not deleting, as a
//                                         backup agent or a virus scanner
//   holdfile.exe load <file> <release>   loaded as a library
// Writes "<release>.held" once it holds the file; exits 1 when it cannot.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    return 2;
  }
  const std::wstring mode = argv[1];
  bool held = false;
  if (mode == L"open") {
    held =
        CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE;
  } else if (mode == L"load") {
    held = LoadLibraryExW(argv[2], nullptr, DONT_RESOLVE_DLL_REFERENCES) !=
           nullptr;
  }
  if (!held) {
    return 1;
  }
  const std::wstring marker = std::wstring(argv[3]) + L".held";
  CloseHandle(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, 0, nullptr));
  for (int i = 0;
       i < 600 && GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) {
    Sleep(100);
  }
  return 0;
}
