// Starts a program with an exact command line, the way a shell, Explorer or
// a deployment tool would with CreateProcessW, waits for it and exits with
// its exit status.
//   spawn.exe <program> <file holding the command line, UTF-8>
// An empty program leaves it to CreateProcessW to take the program from the
// command line, as tools that run a registered command do. When
// CreateProcessW fails, the program never ran: spawn.exe says so on standard
// error and exits 203.
// With SPAWN_STANDARD_USER set, the program runs with the rights of a
// standard user: the Administrators group for deny only, no privileges, as
// Windows gives an administrator's programs before elevation.
// Ends by writing "spawn.exe: exited with <status>" on standard error: an
// exit status past 255 (740) reaches Wine's caller cut to its low byte.
// Exits 200 + n when it cannot do that itself.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring ReadUtf8File(const wchar_t* name, bool* ok) {
  *ok = false;
  const HANDLE file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return {};
  }
  std::vector<char> bytes(GetFileSize(file, nullptr));
  DWORD read = 0;
  const BOOL done = ReadFile(file, bytes.data(),
                             static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  if (done == FALSE || read != bytes.size()) {
    return {};
  }
  std::wstring text(bytes.size(), L'\0');
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(read),
                          text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(length));
  *ok = true;
  return text;
}

// The process's own token, without what an administrator has.
HANDLE StandardUserToken() {
  HANDLE own = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own) == FALSE) {
    return nullptr;
  }
  SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  HANDLE limited = nullptr;
  if (AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                               DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                               &administrators) != FALSE) {
    SID_AND_ATTRIBUTES deny_only{administrators, 0};
    if (CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, 1, &deny_only, 0,
                              nullptr, 0, nullptr, &limited) == FALSE) {
      limited = nullptr;
    }
    FreeSid(administrators);
  }
  CloseHandle(own);
  return limited;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    return 201;
  }
  bool ok = false;
  std::wstring commandLine = ReadUtf8File(argv[2], &ok);
  if (!ok) {
    return 202;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const wchar_t* program = argv[1][0] == L'\0' ? nullptr : argv[1];
  HANDLE token = nullptr;
  if (GetEnvironmentVariableW(L"SPAWN_STANDARD_USER", nullptr, 0) != 0 &&
      (token = StandardUserToken()) == nullptr) {
    return 204;
  }
  const BOOL started =
      token == nullptr
          ? CreateProcessW(program, commandLine.data(), nullptr, nullptr, TRUE,
                           0, nullptr, nullptr, &startup, &process)
          : CreateProcessAsUserW(token, program, commandLine.data(), nullptr,
                                 nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                 &process);
  if (started == FALSE) {
    std::fprintf(stderr, "spawn.exe: CreateProcessW failed with %lu\n",
                 GetLastError());
    return 203;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (token != nullptr) {
    CloseHandle(token);
  }
  std::fprintf(stderr, "spawn.exe: exited with %lu\n", status);
  return static_cast<int>(status);
}
