// Which language the installer and the uninstaller speak.
#pragma once

#include <cstdint>
#include <vector>

namespace setup {

struct LanguageChoice {
  std::uint16_t language = 0;
  // With a window, offer the list: none of the user's languages is there, or
  // the installation speaks another than the user's.
  bool ask = false;
};

// Language ids (LANGID) are numbers as Windows has them; 0 stands for none.
// The language a switch names (/LANG=); else the one the installation was
// made in; else the user's display language, exactly or by its primary
// language; else the first of those supported (English).
LanguageChoice ChooseLanguage(std::uint16_t switched, std::uint16_t stored,
                              std::uint16_t user,
                              const std::vector<std::uint16_t>& supported);

}  // namespace setup
