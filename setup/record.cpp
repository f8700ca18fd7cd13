#include "record.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <set>

#include "folder.h"
#include "product.h"
#include "registration.h"
#include "text.h"

namespace setup {
namespace {

constexpr std::array<std::uint8_t, 4> kMagic = {'T', 'L', 'V', 'J'};
constexpr std::uint16_t kFormat = 1;
constexpr std::uint32_t kLongestText = 32767;
constexpr std::uint32_t kLargestData = 1U << 20U;

class Writer {
 public:
  void Byte(std::uint8_t value) { bytes_.push_back(value); }
  void Word(std::uint32_t value) {
    for (unsigned shift = 0; shift < 32; shift += 8) {
      Byte(static_cast<std::uint8_t>((value >> shift) & 0xFFU));
    }
  }
  void Data(const std::vector<std::uint8_t>& data) {
    Word(static_cast<std::uint32_t>(data.size()));
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  void Text(const std::wstring& text) { Data(Utf16Bytes(text, false)); }
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Reads fields in order; once anything is wrong, every later read fails too.
class Reader {
 public:
  explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  bool Byte(std::uint8_t* value) {
    if (!ok_ || at_ >= bytes_.size()) {
      ok_ = false;
      return false;
    }
    *value = bytes_[at_++];
    return true;
  }
  bool Word(std::uint32_t* value) {
    *value = 0;
    for (unsigned shift = 0; shift < 32; shift += 8) {
      std::uint8_t part = 0;
      if (!Byte(&part)) {
        return false;
      }
      *value |= static_cast<std::uint32_t>(part) << shift;
    }
    return true;
  }
  bool Flag(bool* value) {
    std::uint8_t byte = 0;
    if (!Byte(&byte) || byte > 1) {
      ok_ = false;
      return false;
    }
    *value = byte == 1;
    return true;
  }
  bool Data(std::vector<std::uint8_t>* data, std::uint32_t largest) {
    std::uint32_t size = 0;
    if (!Word(&size) || size > largest || size > bytes_.size() - at_) {
      ok_ = false;
      return false;
    }
    data->assign(bytes_.begin() + static_cast<std::ptrdiff_t>(at_),
                 bytes_.begin() + static_cast<std::ptrdiff_t>(at_ + size));
    at_ += size;
    return true;
  }
  bool Text(std::wstring* text) {
    std::vector<std::uint8_t> data;
    if (!Data(&data, 2 * kLongestText) || !FromUtf16Bytes(data, text) ||
        Utf16Bytes(*text, false).size() != data.size()) {
      ok_ = false;  // odd, unpaired or holding a zero
      return false;
    }
    return true;
  }
  // A count of items, each at least `least` bytes long.
  bool Count(std::uint32_t* count, std::uint32_t most, std::size_t least) {
    if (!Word(count) || *count > most || *count * least > bytes_.size() - at_) {
      ok_ = false;
      return false;
    }
    return true;
  }
  // Marks what was read as wrong; false, for a caller to return.
  bool Fail() {
    ok_ = false;
    return ok_;
  }
  [[nodiscard]] bool AtEnd() const { return ok_ && at_ == bytes_.size(); }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

std::set<std::wstring> OwnValueNames() {
  std::set<std::wstring> names;
  for (const ValueName& value : OwnValues()) {
    names.insert(Folded(value.key + L'|' + value.name));
  }
  return names;
}

std::set<std::wstring> OwnKeyNames() {
  std::set<std::wstring> names;
  for (const std::wstring& key : RecordedKeys()) {
    names.insert(Folded(key));
  }
  return names;
}

bool IsUsableFolder(const std::wstring& folder) {
  return CheckCanonicalText(folder).problem == FolderProblem::kNone;
}

bool ReadFiles(Reader* in, Record* record) {
  std::uint32_t count = 0;
  if (!in->Count(&count, kOwnFiles.size(), 5)) {
    return false;
  }
  record->files.resize(count);
  for (SavedFile& file : record->files) {
    if (!in->Flag(&file.existed) || !in->Word(&file.attributes)) {
      return false;
    }
  }
  return true;
}

bool ReadValues(Reader* in, Record* record) {
  std::uint32_t count = 0;
  if (!in->Count(&count, kLongestText, 9)) {
    return false;
  }
  record->values.resize(count);
  const std::set<std::wstring> own = OwnValueNames();
  for (SavedValue& value : record->values) {
    bool present = false;
    if (!in->Text(&value.key) || !in->Text(&value.name) ||
        !in->Flag(&present)) {
      return false;
    }
    if (own.count(Folded(value.key + L'|' + value.name)) == 0) {
      return in->Fail();
    }
    if (present) {
      RegData data;
      if (!in->Word(&data.type) || !in->Data(&data.bytes, kLargestData)) {
        return false;
      }
      value.data = std::move(data);
    }
  }
  return true;
}

bool ReadKeys(Reader* in, Record* record) {
  std::uint32_t count = 0;
  if (!in->Count(&count, kLongestText, 5)) {
    return false;
  }
  record->keys.resize(count);
  const std::set<std::wstring> own = OwnKeyNames();
  for (SavedKey& key : record->keys) {
    if (!in->Text(&key.key) || !in->Flag(&key.existed)) {
      return false;
    }
    if (own.count(Folded(key.key)) == 0) {
      return in->Fail();
    }
  }
  return true;
}

bool ReadShortcuts(Reader* in, Record* record) {
  std::uint32_t count = 0;
  if (!in->Count(&count, kShortcuts.size(), 1)) {
    return false;
  }
  record->shortcuts.resize(count);
  for (std::optional<std::string>& shortcut : record->shortcuts) {
    bool present = false;
    if (!in->Flag(&present)) {
      return false;
    }
    if (present) {
      std::vector<std::uint8_t> bytes;
      if (!in->Data(&bytes, kLargestData)) {
        return false;
      }
      shortcut = std::string(bytes.begin(), bytes.end());
    }
  }
  return true;
}

void WriteValues(const Record& record, Writer* out) {
  out->Word(static_cast<std::uint32_t>(record.values.size()));
  for (const SavedValue& value : record.values) {
    out->Text(value.key);
    out->Text(value.name);
    out->Byte(value.data ? 1 : 0);
    if (value.data) {
      out->Word(value.data->type);
      out->Data(value.data->bytes);
    }
  }
}

}  // namespace

std::vector<std::uint8_t> EncodeRecord(const Record& record) {
  Writer out;
  for (const std::uint8_t byte : kMagic) {
    out.Byte(byte);
  }
  out.Byte(kFormat & 0xFFU);
  out.Byte(kFormat >> 8U);
  out.Byte(static_cast<std::uint8_t>(record.kind));
  out.Byte(record.registers ? 1 : 0);
  out.Text(record.folder);
  out.Text(record.previous);
  out.Word(record.madeLevels);
  out.Word(record.madeFolders);
  out.Word(static_cast<std::uint32_t>(record.files.size()));
  for (const SavedFile& file : record.files) {
    out.Byte(file.existed ? 1 : 0);
    out.Word(file.attributes);
  }
  WriteValues(record, &out);
  out.Word(static_cast<std::uint32_t>(record.keys.size()));
  for (const SavedKey& key : record.keys) {
    out.Text(key.key);
    out.Byte(key.existed ? 1 : 0);
  }
  out.Word(static_cast<std::uint32_t>(record.shortcuts.size()));
  for (const std::optional<std::string>& shortcut : record.shortcuts) {
    out.Byte(shortcut ? 1 : 0);
    if (shortcut) {
      out.Data({shortcut->begin(), shortcut->end()});
    }
  }
  return out.Take();
}

RecordStatus DecodeRecord(const std::vector<std::uint8_t>& bytes,
                          Record* record) {
  *record = Record{};
  Reader in(bytes);
  for (const std::uint8_t expected : kMagic) {
    std::uint8_t byte = 0;
    if (!in.Byte(&byte) || byte != expected) {
      return RecordStatus::kDamaged;
    }
  }
  std::uint8_t low = 0;
  std::uint8_t high = 0;
  if (!in.Byte(&low) || !in.Byte(&high)) {
    return RecordStatus::kDamaged;
  }
  const auto format = static_cast<std::uint16_t>(low | (high << 8U));
  if (format > kFormat) {
    return RecordStatus::kNewer;
  }
  std::uint8_t kind = 0;
  if (format != kFormat || !in.Byte(&kind) ||
      (kind != static_cast<std::uint8_t>(JobKind::kInstall) &&
       kind != static_cast<std::uint8_t>(JobKind::kUninstall))) {
    return RecordStatus::kDamaged;
  }
  record->kind = static_cast<JobKind>(kind);
  const bool read = in.Flag(&record->registers) && in.Text(&record->folder) &&
                    in.Text(&record->previous) &&
                    in.Word(&record->madeLevels) &&
                    in.Word(&record->madeFolders) && ReadFiles(&in, record) &&
                    ReadValues(&in, record) && ReadKeys(&in, record) &&
                    ReadShortcuts(&in, record) && in.AtEnd();
  const std::uint32_t folderBits = (1U << kOwnFolders.size()) - 1;
  const auto levels = static_cast<std::uint32_t>(
      std::count(record->folder.begin(), record->folder.end(), L'\\'));
  if (!read || !IsUsableFolder(record->folder) ||
      (!record->previous.empty() && !IsUsableFolder(record->previous)) ||
      record->madeLevels > levels || (record->madeFolders & ~folderBits) != 0) {
    *record = Record{};
    return RecordStatus::kDamaged;
  }
  return RecordStatus::kOk;
}

}  // namespace setup
