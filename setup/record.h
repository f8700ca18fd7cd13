// The setup journal's record: what a job is about to change and what was
// there before, written to the scope's registry (HKLM for all users, HKCU
// for the current user) and flushed before anything changes, so that the
// next setup or uninstall undoes or finishes a job that was interrupted.
//
// It names no path to touch: files are numbers into the installation's own
// list, registry values and keys must be this product's own, and the folder
// and a previous folder must pass the folder rules. A record that breaks any
// of this is damaged and never acted on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform.h"

namespace setup {

enum class JobKind : std::uint8_t { kInstall = 1, kUninstall = 2 };

struct SavedFile {
  bool existed = false;
  std::uint32_t attributes = 0;
};

struct SavedValue {
  std::wstring key;
  std::wstring name;
  std::optional<RegData> data;  // none: the value was not there
};

struct SavedKey {
  std::wstring key;
  bool existed = false;
};

struct Record {
  JobKind kind = JobKind::kInstall;
  std::wstring folder;
  // Install: the folder of the installation registered before, if any.
  std::wstring previous;
  // Whether the job changes the registration (an unregistered copy's
  // uninstall does not).
  bool registers = true;
  // Install: how many folders, the installation folder and those above it,
  // the job makes; and which of its own folders, one bit each.
  std::uint32_t madeLevels = 0;
  std::uint32_t madeFolders = 0;
  std::vector<SavedFile> files;  // by number
  std::vector<SavedValue> values;
  std::vector<SavedKey> keys;
  // The shortcuts' bytes, in the order of kShortcuts; none: not there.
  std::vector<std::optional<std::string>> shortcuts;
};

enum class RecordStatus { kOk, kNewer, kDamaged };

std::vector<std::uint8_t> EncodeRecord(const Record& record);
RecordStatus DecodeRecord(const std::vector<std::uint8_t>& bytes,
                          Record* record);

}  // namespace setup
