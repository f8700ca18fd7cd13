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
#include <string>

#include "record.h"

namespace {

std::string Text(HWND window) {
  wchar_t text[4096] = L"";
  SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 1000, nullptr);
  return probe::Json(text);
}

std::string ClassName(HWND window) {
  wchar_t name[256] = L"";
  GetClassNameW(window, name, 256);
  return probe::Json(name);
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
  return probe::Write(argv[1], json) ? 0 : 202;
}
