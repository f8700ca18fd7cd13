#include "registration.h"

#include "folder.h"
#include "product.h"
#include "text.h"

namespace setup {
namespace {

std::wstring AppPathsKey() {
  return L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" +
         std::wstring(kExeName);
}

std::wstring ApplicationKey() {
  return std::wstring(kClassesKey) + L"\\Applications\\" + kExeName;
}

std::wstring CapabilitiesKey() {
  return std::wstring(kProductKey) + L"\\Capabilities";
}

constexpr const wchar_t* kRegisteredApplicationsKey =
    L"Software\\RegisteredApplications";

struct ProgId {
  std::wstring name;
  std::wstring text;
  std::vector<std::wstring> types;
};

std::vector<ProgId> ProgIds() {
  const std::wstring product = kProductName;
  return {{product + L".Image",
           product + L" image",
           {kImageTypes.begin(), kImageTypes.end()}},
          {product + L".Raw",
           product + L" raw photo",
           {kRawTypes.begin(), kRawTypes.end()}}};
}

std::wstring ClassKey(const std::wstring& name) {
  return std::wstring(kClassesKey) + L"\\" + name;
}

RegData NoneData() { return {kRegNone, {}}; }

void AddAssociations(const std::wstring& exe, std::vector<RegValue>* values) {
  const std::wstring open = L"\"" + exe + L"\" \"%1\"";
  for (const ProgId& progId : ProgIds()) {
    const std::wstring key = ClassKey(progId.name);
    values->push_back({key, L"", StringData(progId.text)});
    values->push_back({key, L"FriendlyTypeName", StringData(progId.text)});
    values->push_back(
        {key + L"\\DefaultIcon", L"", StringData(L"\"" + exe + L"\",0")});
    values->push_back({key + L"\\shell\\open\\command", L"", StringData(open)});
  }
  values->push_back(
      {ApplicationKey(), L"FriendlyAppName", StringData(kProductName)});
  values->push_back(
      {ApplicationKey() + L"\\shell\\open\\command", L"", StringData(open)});
  values->push_back(
      {CapabilitiesKey(), L"ApplicationName", StringData(kProductName)});
  values->push_back(
      {CapabilitiesKey(), L"ApplicationDescription", StringData(kDescription)});
  for (const ProgId& progId : ProgIds()) {
    for (const std::wstring& type : progId.types) {
      values->push_back({ClassKey(L"." + type) + L"\\OpenWithProgids",
                         progId.name, NoneData()});
      values->push_back(
          {ApplicationKey() + L"\\SupportedTypes", L"." + type, NoneData()});
      values->push_back({CapabilitiesKey() + L"\\FileAssociations", L"." + type,
                         StringData(progId.name)});
    }
  }
  values->push_back({kRegisteredApplicationsKey, kProductName,
                     StringData(CapabilitiesKey())});
}

}  // namespace

std::optional<std::uint32_t> ReadDword(Platform& platform, Root root,
                                       const std::wstring& key,
                                       const wchar_t* name) {
  const std::optional<RegData> data = platform.ReadValue(root, key, name);
  if (!data || data->type != kRegDword || data->bytes.size() != 4) {
    return std::nullopt;
  }
  return data->bytes[0] | (data->bytes[1] << 8U) | (data->bytes[2] << 16U) |
         (static_cast<std::uint32_t>(data->bytes[3]) << 24U);
}

std::wstring CrashDumpsKey() {
  return std::wstring(kLocalDumpsKey) + L"\\" + kExeName;
}

RegData StringData(const std::wstring& text) {
  return {kRegSz, Utf16Bytes(text, true)};
}

RegData ExpandStringData(const std::wstring& text) {
  return {kRegExpandSz, Utf16Bytes(text, true)};
}

RegData DwordData(std::uint32_t number) {
  return {kRegDword,
          {static_cast<std::uint8_t>(number & 0xFFU),
           static_cast<std::uint8_t>((number >> 8U) & 0xFFU),
           static_cast<std::uint8_t>((number >> 16U) & 0xFFU),
           static_cast<std::uint8_t>((number >> 24U) & 0xFFU)}};
}

std::vector<RegValue> RegistrationValues(const Installation& installation) {
  const std::wstring& folder = installation.folder;
  const std::wstring exe = folder + L"\\" + kExeName;
  const std::wstring uninstaller =
      L"\"" + folder + L"\\" + kOwnFiles.at(kUninstaller) + L"\"";
  std::vector<RegValue> values = {{AppPathsKey(), L"", StringData(exe)}};
  if (installation.choices.openWith) {
    AddAssociations(exe, &values);
  }
  // Mini dumps, the ten latest, in each user's own folder; sent nowhere.
  if (installation.choices.crashDumps) {
    values.push_back(
        {CrashDumpsKey(), L"DumpFolder",
         ExpandStringData(L"%LOCALAPPDATA%\\" + std::wstring(kProductName) +
                          L"\\CrashDumps")});
    values.push_back({CrashDumpsKey(), L"DumpCount", DwordData(10)});
    values.push_back({CrashDumpsKey(), L"DumpType", DwordData(1)});
  }
  // 1: the crash dumps kept; 2: and the LocalDumps key made for them.
  const std::uint32_t crashDumps = !installation.choices.crashDumps ? 0
                                   : installation.madeDumpsKey      ? 2
                                                                    : 1;
  const std::wstring entry = kUninstallKey;
  for (RegValue value : std::vector<RegValue>{
           {entry, L"DisplayName", StringData(kProductName)},
           {entry, L"Publisher", StringData(kPublisher)},
           {entry, L"DisplayIcon", StringData(exe + L",0")},
           {entry, L"InstallLocation", StringData(folder)},
           {entry, L"EstimatedSize", DwordData(installation.sizeKiB)},
           // The plain quoted path: tools take it as a file name, or
           // append /S.
           {entry, L"UninstallString", StringData(uninstaller)},
           {entry, L"QuietUninstallString", StringData(uninstaller + L" /S")},
           {entry, L"NoModify", DwordData(1)},
           {entry, L"NoRepair", DwordData(1)},
           {entry, L"OpenWith",
            DwordData(installation.choices.openWith ? 1 : 0)},
           {entry, L"DesktopShortcut",
            DwordData(installation.choices.desktop ? 1 : 0)},
           {entry, L"CrashDumps", DwordData(crashDumps)},
           {entry, L"Language", DwordData(installation.language)},
           {entry, L"DisplayVersion", StringData(installation.version)}}) {
    if (value.name != L"Language" || installation.language != 0) {
      values.push_back(std::move(value));
    }
  }
  return values;
}

std::vector<ValueName> OwnValues() {
  std::vector<ValueName> names;
  for (const RegValue& value :
       RegistrationValues({L"C:\\x", L"0", 0, {true, true, true}, 1})) {
    names.emplace_back(ValueName{value.key, value.name});
  }
  // The pointer to the journal of earlier versions.
  names.emplace_back(ValueName{kProductKey, L"Setup"});
  return names;
}

std::vector<std::wstring> OwnKeys() {
  std::vector<std::wstring> keys;
  for (const std::wstring& base :
       {ClassKey(ProgIds()[0].name), ClassKey(ProgIds()[1].name),
        ApplicationKey()}) {
    for (const wchar_t* below :
         {L"\\shell\\open\\command", L"\\shell\\open", L"\\shell"}) {
      keys.push_back(base + below);
    }
    keys.push_back(base + (base == ApplicationKey() ? L"\\SupportedTypes"
                                                    : L"\\DefaultIcon"));
    keys.push_back(base);
  }
  keys.push_back(CapabilitiesKey() + L"\\FileAssociations");
  keys.push_back(CapabilitiesKey());
  for (const ProgId& progId : ProgIds()) {
    for (const std::wstring& type : progId.types) {
      keys.push_back(ClassKey(L"." + type) + L"\\OpenWithProgids");
      keys.push_back(ClassKey(L"." + type));
    }
  }
  keys.push_back(CrashDumpsKey());
  keys.push_back(AppPathsKey());
  keys.emplace_back(kUninstallKey);
  return keys;
}

std::vector<std::wstring> RecordedKeys() {
  std::vector<std::wstring> keys = OwnKeys();
  keys.emplace_back(kLocalDumpsKey);
  return keys;
}

std::wstring ShortcutPath(Platform& platform, Root root, ShellFolder which) {
  const std::wstring folder = platform.Folder(which, root);
  return folder.empty() ? folder : folder + L"\\" + kProductName + L".lnk";
}

std::optional<Installation> ReadInstallation(Platform& platform, Root root) {
  const auto read = [&](const wchar_t* name) {
    return platform.ReadValue(root, kUninstallKey, name);
  };
  std::wstring spelling;
  const std::optional<RegData> location = read(L"InstallLocation");
  if (!location || location->type != kRegSz ||
      !FromUtf16Bytes(location->bytes, &spelling) || spelling.empty()) {
    return std::nullopt;
  }
  const FolderCheck check = CheckFolder(spelling, platform);
  if (check.folder.empty() || check.problem == FolderProblem::kNotFullPath ||
      check.problem == FolderProblem::kRoot) {
    return std::nullopt;
  }
  Installation installation;
  installation.folder = check.folder;
  if (const auto version = read(L"DisplayVersion")) {
    FromUtf16Bytes(version->bytes, &installation.version);
  }
  const auto dword = [&](const wchar_t* name) {
    return ReadDword(platform, root, kUninstallKey, name);
  };
  installation.sizeKiB = dword(L"EstimatedSize").value_or(0);
  // Missing choices read as an upgrade reads them: "Open with" on, no
  // desktop shortcut.
  installation.choices.openWith = dword(L"OpenWith").value_or(1) != 0;
  installation.choices.desktop = dword(L"DesktopShortcut").value_or(0) == 1;
  installation.language = dword(L"Language").value_or(0);
  // Kept for all users unless left out; an installation from before the
  // choice existed gets them.
  const std::uint32_t crashDumps = dword(L"CrashDumps").value_or(1);
  installation.choices.crashDumps = root == Root::kMachine && crashDumps != 0;
  installation.madeDumpsKey = crashDumps == 2;
  return installation;
}

}  // namespace setup
