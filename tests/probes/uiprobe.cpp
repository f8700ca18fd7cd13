// Writes what the visible windows of the desktop show, as JSON, so that a
// test can wait for a page or a message and read it:
//   uiprobe.exe <output file> [fit] [set <control handle> <UTF-8 text file>]
// [{"handle", "title", "class", "rect": [left, top, right, bottom],
//   "controls": [{"handle", "class", "text", "checked", "enabled", "fit",
//   "rect", "style", "exstyle"}]}], every visible control of each visible
// top-level window, in order; "checked" is BM_GETCHECK's answer for
// buttons, null for other controls. With "fit", textfit.dll (beside it) is
// loaded into each program that shows a window, to measure the texts with
// the controls' own fonts, and a control it measured has "fit": {"need",
// "have", "fits"}. With "set", the control first shows the file's text, so
// that each text a control can show is measured where it is shown. Exits
// 200 + n when it cannot do what it is asked.
#include <windows.h>

#include <cstdint>
#include <map>
#include <set>
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

struct Output {
  std::string json = "[";
  std::map<std::uintptr_t, std::string> fits;  // by control, from textfit
};

std::string Handle(HWND window) {
  return std::to_string(reinterpret_cast<std::uintptr_t>(window));
}

// [left, top, right, bottom] on the screen.
std::string Rect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return "[" + std::to_string(rect.left) + ", " + std::to_string(rect.top) +
         ", " + std::to_string(rect.right) + ", " +
         std::to_string(rect.bottom) + "]";
}

BOOL CALLBACK AddControl(HWND control, LPARAM out) {
  auto* output = reinterpret_cast<Output*>(out);
  std::string* json = &output->json;
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
  const auto fit = output->fits.find(reinterpret_cast<std::uintptr_t>(control));
  *json +=
      (json->back() == '[' ? "" : ",") + std::string("\n    {\"handle\": ") +
      Handle(control) + ", \"class\": " + ClassName(control) +
      ", \"text\": " + Text(control) + ", \"checked\": " + checked +
      ", \"enabled\": " +
      (IsWindowEnabled(control) != FALSE ? "true" : "false") +
      ", \"fit\": " + (fit == output->fits.end() ? "null" : fit->second) +
      ", \"rect\": " + Rect(control) +
      ", \"style\": " + std::to_string(GetWindowLongW(control, GWL_STYLE)) +
      ", \"exstyle\": " + std::to_string(GetWindowLongW(control, GWL_EXSTYLE)) +
      "}";
  return TRUE;
}

BOOL CALLBACK AddWindow(HWND window, LPARAM out) {
  std::string* json = &reinterpret_cast<Output*>(out)->json;
  if (IsWindowVisible(window) == FALSE) {
    return TRUE;
  }
  *json += (json->back() == '[' ? "" : ",") + std::string("\n  {\"handle\": ") +
           Handle(window) + ", \"title\": " + Text(window) +
           ", \"class\": " + ClassName(window) + ", \"rect\": " + Rect(window) +
           ", \"controls\": [";
  EnumChildWindows(window, AddControl, out);
  *json += "]}";
  return TRUE;
}

BOOL CALLBACK AddProcess(HWND window, LPARAM out) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (IsWindowVisible(window) != FALSE && process != GetCurrentProcessId()) {
    reinterpret_cast<std::set<DWORD>*>(out)->insert(process);
  }
  return TRUE;
}

// Loads textfit.dll into the process, which writes its measures into the
// temporary folder; reads them into fits, control by control.
void Measure(DWORD process, const std::wstring& library,
             std::map<std::uintptr_t, std::string>* fits) {
  wchar_t folder[MAX_PATH + 1] = L"";
  GetTempPathW(MAX_PATH + 1, folder);
  const std::wstring result =
      std::wstring(folder) + L"textfit-" + std::to_wstring(process) + L".json";
  DeleteFileW(result.c_str());
  const HANDLE target =
      OpenProcess(PROCESS_CREATE_THREAD | PROCESS_VM_OPERATION |
                      PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                  FALSE, process);
  if (target == nullptr) {
    return;
  }
  const std::size_t size = (library.size() + 1) * sizeof(wchar_t);
  void* name = VirtualAllocEx(target, nullptr, size, MEM_COMMIT | MEM_RESERVE,
                              PAGE_READWRITE);
  const auto load =
      reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"kernel32"), "LoadLibraryW")));
  HANDLE thread = nullptr;
  if (name != nullptr && WriteProcessMemory(target, name, library.c_str(), size,
                                            nullptr) != FALSE) {
    thread = CreateRemoteThread(target, nullptr, 0, load, name, 0, nullptr);
  }
  if (thread != nullptr) {
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
  }
  CloseHandle(target);
  std::string text;
  for (int i = 0; i < 100 && text.empty(); ++i) {
    text = probe::Read(result.c_str());
    Sleep(text.empty() ? 50 : 0);
  }
  DeleteFileW(result.c_str());
  // {"<handle>": {...}, ...}: one control a line.
  for (std::size_t start = text.find('"'); start != std::string::npos;
       start = text.find('"', text.find('\n', start))) {
    const std::size_t end = text.find('"', start + 1);
    const std::size_t value = text.find('{', end);
    const std::size_t close = text.find('}', value);
    if (end == std::string::npos || value == std::string::npos ||
        close == std::string::npos) {
      break;
    }
    (*fits)[std::stoull(text.substr(start + 1, end - start - 1))] =
        text.substr(value, close - value + 1);
  }
}

// Has the control show the text of a UTF-8 file.
bool SetText(const wchar_t* handle, const wchar_t* file) {
  const std::string text = probe::Read(file);
  std::wstring wide(text.size() + 1, L'\0');
  wide.resize(static_cast<std::size_t>(MultiByteToWideChar(
      CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
      static_cast<int>(wide.size()))));
  const auto control = reinterpret_cast<HWND>(
      static_cast<std::uintptr_t>(std::wcstoull(handle, nullptr, 10)));
  return IsWindow(control) != FALSE &&
         SendMessageTimeoutW(control, WM_SETTEXT, 0,
                             reinterpret_cast<LPARAM>(wide.c_str()),
                             SMTO_ABORTIFHUNG, 1000, nullptr) != 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int next = 2;
  const bool fit = argc > next && lstrcmpW(argv[next], L"fit") == 0;
  next += fit ? 1 : 0;
  if (argc > next + 2 && lstrcmpW(argv[next], L"set") == 0) {
    if (!SetText(argv[next + 1], argv[next + 2])) {
      return 203;
    }
    next += 3;
  }
  if (argc < 2 || next != argc) {
    return 201;
  }
  Output output;
  if (fit) {
    std::wstring library = probe::ModulePath(nullptr);
    library.resize(library.rfind(L'\\') + 1);
    library += L"textfit.dll";
    std::set<DWORD> processes;
    EnumWindows(AddProcess, reinterpret_cast<LPARAM>(&processes));
    for (const DWORD process : processes) {
      Measure(process, library, &output.fits);
    }
  }
  EnumWindows(AddWindow, reinterpret_cast<LPARAM>(&output));
  output.json += "\n]\n";
  return probe::Write(argv[1], output.json) ? 0 : 202;
}
