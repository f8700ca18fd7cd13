// Writes what the visible windows of the desktop show, as JSON, so that a
// test can wait for a page or a message and read it:
//   uiprobe.exe <output file>
// [{"handle", "title", "class", "rect": [left, top, right, bottom], "controls":
//   [{"class", "text", "checked", "enabled"}]}], every visible control of
// each visible top-level window, in order; "checked" is BM_GETCHECK's
// answer for buttons, null for other controls. Exits 200 + n when it cannot
// do that itself.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

std::string Json(const wchar_t* text) {
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr,
                      nullptr);
  utf8.resize(utf8.size() - 1);
  std::string out = "\"";
  for (const char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Text(HWND window) {
  wchar_t text[4096] = L"";
  SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 1000, nullptr);
  return Json(text);
}

std::string ClassName(HWND window) {
  wchar_t name[256] = L"";
  GetClassNameW(window, name, 256);
  return Json(name);
}

BOOL CALLBACK AddControl(HWND control, LPARAM out) {
  auto* json = reinterpret_cast<std::string*>(out);
  if (IsWindowVisible(control) == FALSE) {
    return TRUE;
  }
  wchar_t name[256] = L"";
  GetClassNameW(control, name, 256);
  std::string checked = "null";
  if (lstrcmpiW(name, L"Button") == 0) {
    DWORD_PTR state = 0;
    SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 1000,
                        &state);
    checked = std::to_string(state);
  }
  *json += (json->back() == '[' ? "" : ",") +
           std::string("\n    {\"class\": ") + ClassName(control) +
           ", \"text\": " + Text(control) + ", \"checked\": " + checked +
           ", \"enabled\": " +
           (IsWindowEnabled(control) != FALSE ? "true" : "false") + "}";
  return TRUE;
}

BOOL CALLBACK AddWindow(HWND window, LPARAM out) {
  auto* json = reinterpret_cast<std::string*>(out);
  if (IsWindowVisible(window) == FALSE) {
    return TRUE;
  }
  RECT rect{};
  GetWindowRect(window, &rect);
  *json += (json->back() == '[' ? "" : ",") + std::string("\n  {\"handle\": ") +
           std::to_string(reinterpret_cast<std::uintptr_t>(window)) +
           ", \"title\": " + Text(window) +
           ", \"class\": " + ClassName(window) + ", \"rect\": [" +
           std::to_string(rect.left) + ", " + std::to_string(rect.top) + ", " +
           std::to_string(rect.right) + ", " + std::to_string(rect.bottom) +
           "], \"controls\": [";
  EnumChildWindows(window, AddControl, out);
  *json += "]}";
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    return 201;
  }
  std::string json = "[";
  EnumWindows(AddWindow, reinterpret_cast<LPARAM>(&json));
  json += "\n]\n";
  const HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return 202;
  }
  DWORD written = 0;
  const BOOL done = WriteFile(
      file, json.data(), static_cast<DWORD>(json.size()), &written, nullptr);
  CloseHandle(file);
  return done != FALSE && written == json.size() ? 0 : 203;
}
