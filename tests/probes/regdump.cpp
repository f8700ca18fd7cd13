// Writes registry keys, with every key below them, as one JSON object, so
// that a test reads the whole registration of an installation with one
// process instead of one reg.exe per key.
//   regdump.exe <output file> <key> [<key> ...]
// A key is "HKLM\..." or "HKCU\...", read in the 64-bit view. The output
// maps each key's path, as given, then below it as stored, to its values
// ({name: data}, the unnamed value as ""), or to null when a given key does
// not exist. Strings are strings, DWORDs numbers, REG_NONE and binary data
// hex, multi-strings lists. Exits 200 + n when it cannot do that itself.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "record.h"

namespace {

std::string Json(const std::wstring& text) { return probe::Json(text.c_str()); }

std::string Data(DWORD type, const std::vector<BYTE>& data, DWORD size) {
  const auto* text = reinterpret_cast<const wchar_t*>(data.data());
  const std::size_t characters = size / sizeof(wchar_t);
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::wstring value(text, characters);
    while (!value.empty() && value.back() == L'\0') {
      value.pop_back();
    }
    return Json(value);
  }
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    return std::to_string(*reinterpret_cast<const DWORD*>(data.data()));
  }
  if (type == REG_MULTI_SZ) {
    std::string out = "[";
    std::size_t start = 0;
    for (std::size_t i = 0; i < characters; ++i) {
      if (text[i] == L'\0') {
        if (i == start) {
          break;
        }
        out += (out.size() > 1 ? "," : "") +
               Json(std::wstring(text + start, i - start));
        start = i + 1;
      }
    }
    return out + "]";
  }
  std::string hex = "\"";
  for (DWORD i = 0; i < size; ++i) {
    char byte[3];
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    hex += byte;
  }
  return hex + "\"";
}

// Appends "path": {values}, and the same for every key below it.
void Dump(HKEY key, const std::wstring& path, std::string* out) {
  *out += (out->size() > 1 ? ",\n" : "\n") + Json(path) + ": {";
  std::vector<wchar_t> name(16384);
  std::vector<BYTE> data(1 << 16);
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    if (RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                      data.data(), &size) != ERROR_SUCCESS) {
      break;
    }
    *out += (index == 0 ? "" : ", ") +
            Json(std::wstring(name.data(), nameLength)) + ": " +
            Data(type, data, size);
  }
  *out += "}";
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(key, index, name.data(), &nameLength, nullptr, nullptr,
                      nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    const std::wstring child(name.data(), nameLength);
    HKEY sub = nullptr;
    if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                      &sub) == ERROR_SUCCESS) {
      Dump(sub, path + L"\\" + child, out);
      RegCloseKey(sub);
    }
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    return 201;
  }
  std::string out = "{";
  for (int i = 2; i < argc; ++i) {
    const std::wstring path = argv[i];
    const std::size_t slash = path.find(L'\\');
    const std::wstring root = path.substr(0, slash);
    const std::wstring rest =
        slash == std::wstring::npos ? L"" : path.substr(slash + 1);
    HKEY top = nullptr;
    if (root == L"HKLM" || root == L"HKEY_LOCAL_MACHINE") {
      top = HKEY_LOCAL_MACHINE;
    } else if (root == L"HKCU" || root == L"HKEY_CURRENT_USER") {
      top = HKEY_CURRENT_USER;
    } else {
      return 202;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(top, rest.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) ==
        ERROR_SUCCESS) {
      Dump(key, path, &out);
      RegCloseKey(key);
    } else {
      out += (out.size() > 1 ? ",\n" : "\n") + Json(path) + ": null";
    }
  }
  out += "\n}\n";
  return probe::Write(argv[1], out) ? 0 : 203;
}
