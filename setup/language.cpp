#include "language.h"

#include <algorithm>

namespace setup {
namespace {

constexpr std::uint16_t kPrimary = 0x3FF;

// The supported language that is the one asked for, or of its primary
// language; 0 when none is.
std::uint16_t Match(std::uint16_t wanted,
                    const std::vector<std::uint16_t>& supported) {
  if (wanted == 0) {
    return 0;
  }
  if (std::find(supported.begin(), supported.end(), wanted) !=
      supported.end()) {
    return wanted;
  }
  const auto same = std::find_if(
      supported.begin(), supported.end(), [&](std::uint16_t language) {
        return (language & kPrimary) == (wanted & kPrimary);
      });
  return same == supported.end() ? 0 : *same;
}

}  // namespace

LanguageChoice ChooseLanguage(std::uint16_t switched, std::uint16_t stored,
                              std::uint16_t user,
                              const std::vector<std::uint16_t>& supported) {
  if (supported.empty()) {
    return {};
  }
  if (const std::uint16_t language = Match(switched, supported)) {
    return {language, false};
  }
  const std::uint16_t users = Match(user, supported);
  if (const std::uint16_t language = Match(stored, supported)) {
    return {language, users != language};
  }
  if (users != 0) {
    return {users, false};
  }
  return {supported.front(), true};
}

}  // namespace setup
