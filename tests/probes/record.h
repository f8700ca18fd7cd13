// Appends one JSON object a line to the file named by PROBE_RECORD, so that
// the test driver can read back what a probe library saw inside the launcher;
// and the JSON and file writing the test helpers share.
#pragma once

#include <windows.h>

#include <string>

namespace probe {

inline std::string Json(const wchar_t* text) {
  if (text == nullptr) {
    return "null";
  }
  std::string out = "\"";
  for (; *text != L'\0'; ++text) {
    const unsigned unit = static_cast<unsigned short>(*text);
    if (unit == '"' || unit == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(unit));
    } else if (unit >= 0x20 && unit < 0x7F) {
      out.push_back(static_cast<char>(unit));
    } else {
      char escaped[8];
      wsprintfA(escaped, "\\u%04x", unit);
      out += escaped;
    }
  }
  return out + "\"";
}

inline std::string Json(long long value) { return std::to_string(value); }

inline std::wstring ModulePath(HMODULE module) {
  std::wstring path(32768, L'\0');
  const DWORD length =
      GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return path;
}

// The whole file, or nothing when it cannot be read.
inline std::string Read(const wchar_t* path) {
  const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return {};
  }
  std::string data(GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  const BOOL done = ReadFile(file, data.data(), static_cast<DWORD>(data.size()),
                             &read, nullptr);
  CloseHandle(file);
  return done != FALSE && read == data.size() ? data : std::string();
}

// Writes data as the whole file; false when it could not.
inline bool Write(const wchar_t* path, const std::string& data) {
  const HANDLE file =
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const BOOL done = WriteFile(
      file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(file);
  return done != FALSE && written == data.size();
}

inline void Append(const std::string& line) {
  wchar_t file[1024];
  if (GetEnvironmentVariableW(L"PROBE_RECORD", file, 1024) == 0) {
    return;
  }
  const HANDLE handle =
      CreateFileW(file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return;
  }
  const std::string data = line + "\n";
  DWORD written = 0;
  WriteFile(handle, data.data(), static_cast<DWORD>(data.size()), &written,
            nullptr);
  CloseHandle(handle);
}

}  // namespace probe
