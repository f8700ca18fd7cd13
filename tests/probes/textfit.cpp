// textfit.dll: loaded into a program by uiprobe.exe, on a thread of its
// own, measures the text of each visible control of the program's visible
// windows with the control's own font, as the control draws it (wrapped in a
// label, on one line on a button), and writes what it found to
// %TEMP%\textfit-<process id>.json: {"<control handle>": {"need": [w, h],
// "have": [w, h], "fits": bool}}. Controls that scroll or draw no text of
// their own (edits, lists, trees, progress bars, icons) are left out. Then
// it unloads itself.
#include <windows.h>

#include <string>

#include "record.h"

namespace {

constexpr int kButtonMargin = 8;  // a push button's frame and focus mark

struct Found {
  std::string json = "{";
};

// The width the text may take and how it is drawn, or false for a control
// whose text is not measured.
bool Layout(HWND control, const RECT& client, int* width, UINT* format) {
  wchar_t name[64] = L"";
  GetClassNameW(control, name, 64);
  const auto style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
  *width = client.right;
  *format = DT_CALCRECT | DT_EXPANDTABS;
  if (lstrcmpiW(name, L"Static") == 0) {
    const DWORD type = style & SS_TYPEMASK;
    if (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT) {
      *format |= DT_WORDBREAK;
    } else if (type == SS_LEFTNOWORDWRAP || type == SS_SIMPLE) {
      *format |= DT_SINGLELINE;
    } else {
      return false;
    }
    *format |= (style & SS_NOPREFIX) != 0 ? DT_NOPREFIX : 0U;
    return true;
  }
  if (lstrcmpiW(name, L"Button") != 0) {
    return false;
  }
  const DWORD type = style & BS_TYPEMASK;
  if (type == BS_GROUPBOX || type == BS_OWNERDRAW) {
    return false;
  }
  const bool box = type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON;
  *width -= box ? GetSystemMetrics(SM_CXMENUCHECK) + 4 : kButtonMargin;
  *format |= (style & BS_MULTILINE) != 0 ? DT_WORDBREAK : DT_SINGLELINE;
  return true;
}

BOOL CALLBACK MeasureControl(HWND control, LPARAM out) {
  auto* found = reinterpret_cast<Found*>(out);
  wchar_t text[4096] = L"";
  RECT client{};
  int width = 0;
  UINT format = 0;
  if (IsWindowVisible(control) == FALSE ||
      GetWindowTextW(control, text, 4096) == 0 ||
      GetClientRect(control, &client) == FALSE ||
      !Layout(control, client, &width, &format)) {
    return TRUE;
  }
  HDC dc = GetDC(control);
  const auto font =
      reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  const HGDIOBJ old =
      SelectObject(dc, font != nullptr ? static_cast<HGDIOBJ>(font)
                                       : GetStockObject(DEFAULT_GUI_FONT));
  RECT need{0, 0, width, 0};
  DrawTextW(dc, text, -1, &need, format);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  const bool fits = need.right <= width + 1 && need.bottom <= client.bottom;
  found->json += (found->json.size() > 1 ? ",\n" : "\n") + std::string("\"") +
                 std::to_string(reinterpret_cast<std::uintptr_t>(control)) +
                 "\": {\"need\": [" + std::to_string(need.right) + ", " +
                 std::to_string(need.bottom) + "], \"have\": [" +
                 std::to_string(width) + ", " + std::to_string(client.bottom) +
                 "], \"fits\": " + (fits ? "true" : "false") + "}";
  return TRUE;
}

BOOL CALLBACK MeasureWindow(HWND window, LPARAM out) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && IsWindowVisible(window) != FALSE) {
    EnumChildWindows(window, MeasureControl, out);
  }
  return TRUE;
}

DWORD WINAPI Measure(LPVOID self) {
  Found found;
  EnumWindows(MeasureWindow, reinterpret_cast<LPARAM>(&found));
  wchar_t folder[MAX_PATH + 1] = L"";
  GetTempPathW(MAX_PATH + 1, folder);
  const std::wstring path = std::wstring(folder) + L"textfit-" +
                            std::to_wstring(GetCurrentProcessId()) + L".json";
  const std::wstring partial = path + L".part";
  if (probe::Write(partial.c_str(), found.json + "\n}\n")) {
    MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  FreeLibraryAndExitThread(static_cast<HMODULE>(self), 0);
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    const HANDLE thread =
        CreateThread(nullptr, 0, Measure, instance, 0, nullptr);
    if (thread != nullptr) {
      CloseHandle(thread);
    }
  }
  return TRUE;
}
