// libFuzzer target for what the setup engine reads back from places it does
// not control: the journal's record from the registry, and folders, as text,
// from the registry and the command line. A record that decodes names only
// the product's own values and keys and folders that pass the rules, and
// encodes to the same bytes; nothing crashes, hangs or reads out of bounds.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_line.h"
#include "folder.h"
#include "record.h"
#include "text.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  setup::Record record;
  if (setup::DecodeRecord(bytes, &record) == setup::RecordStatus::kOk) {
    Check(setup::EncodeRecord(record) == bytes);
    Check(setup::CheckCanonicalText(record.folder).problem ==
          setup::FolderProblem::kNone);
  }
  std::wstring text;
  if (setup::FromUtf16Bytes(bytes, &text)) {
    const setup::FolderCheck check = setup::CheckCanonicalText(text);
    if (check.problem == setup::FolderProblem::kNone) {
      // A usable folder is a full path with nothing that could lead out of
      // it: no empty name, no "." or "..", no "/".
      Check(text.find(L'/') == std::wstring::npos &&
            text.size() <= setup::LongestFolder());
      const std::size_t root = setup::PathRoot(text).size();
      for (std::size_t start = root + 1; start <= text.size();) {
        const std::size_t end = std::min(text.find(L'\\', start), text.size());
        const std::wstring name = text.substr(start, end - start);
        Check(!name.empty() && name != L"." && name != L"..");
        start = end + 1;
      }
    }
    setup::ReadSwitches(text);
  }
  return 0;
}
