// What Windows finds the program by, in the registry of the scope (HKLM or
// HKCU, 64-bit view) and in its shell folders: App Paths, the uninstall
// entry, "Open with" and Default Apps, the Start-menu shortcut and the
// desktop shortcut; for all users, the crash dumps Windows Error Reporting
// keeps of the program. Only this product's own values and keys, never a
// type's default or another program's ProgID.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"

namespace setup {

struct Choices {
  bool openWith = true;
  bool desktop = false;
  bool crashDumps = false;  // all users only
};

// An installation as its registration describes it.
struct Installation {
  std::wstring folder;
  std::wstring version;
  std::uint32_t sizeKiB = 0;
  Choices choices;
  // The language id its installer spoke, which its uninstaller speaks too;
  // 0: none stored.
  std::uint32_t language = 0;
  // Whether the crash dumps' settings made the LocalDumps key, which then
  // goes with them.
  bool madeDumpsKey = false;
};

struct ValueName {
  std::wstring key;
  std::wstring name;
};

struct RegValue {
  std::wstring key;
  std::wstring name;
  RegData data;
};

inline constexpr const wchar_t* kUninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tolvarin";
inline constexpr const wchar_t* kProductKey = L"Software\\Tolvarin";
// The setup journal's record, while a job runs.
inline constexpr const wchar_t* kJobKey = L"Software\\Tolvarin\\Job";
inline constexpr const wchar_t* kClassesKey = L"Software\\Classes";
// Windows Error Reporting keeps the dumps of every program while this key is
// there, its own values the settings; a key below it, named after a program,
// holds that program's.
inline constexpr const wchar_t* kLocalDumpsKey =
    L"Software\\Microsoft\\Windows\\Windows Error Reporting\\LocalDumps";

// The registration of an installation, in the order it is written: the
// version last, since it says which files the registration belongs to.
std::vector<RegValue> RegistrationValues(const Installation& installation);

// Every value any registration of this product holds.
std::vector<ValueName> OwnValues();

// The keys a registration may leave empty, deepest first: they go when
// nothing is left in them.
std::vector<std::wstring> OwnKeys();

// The keys a job's record keeps, as they were: the own keys, then the
// LocalDumps key, which the crash dumps' settings may make.
std::vector<std::wstring> RecordedKeys();

// The shortcuts: the Start menu's always, the desktop's when chosen.
std::wstring ShortcutPath(Platform& platform, Root root, ShellFolder which);
inline constexpr std::array kShortcuts = {ShellFolder::kPrograms,
                                          ShellFolder::kDesktop};

// The installation registered in the scope, its folder canonical; none
// without an uninstall entry or with a folder that is not usable.
std::optional<Installation> ReadInstallation(Platform& platform, Root root);

// The key of Tolvarin's own crash dumps' settings, below LocalDumps.
std::wstring CrashDumpsKey();

// A REG_DWORD value of the scope's registry; none when absent or another
// type.
std::optional<std::uint32_t> ReadDword(Platform& platform, Root root,
                                       const std::wstring& key,
                                       const wchar_t* name);

RegData StringData(const std::wstring& text);
RegData ExpandStringData(const std::wstring& text);
RegData DwordData(std::uint32_t number);

}  // namespace setup
