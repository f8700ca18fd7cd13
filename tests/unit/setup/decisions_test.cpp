// The setup engine's decisions on what it is given: the language, the
// switches.
#include <gtest/gtest.h>

#include "command_line.h"
#include "language.h"

namespace setup {
namespace {

constexpr std::uint16_t kEnglish = 1033;
constexpr std::uint16_t kGerman = 1031;
constexpr std::uint16_t kSwissGerman = 2055;
constexpr std::uint16_t kPortugueseBrazil = 1046;
constexpr std::uint16_t kPortugal = 2070;
constexpr std::uint16_t kThai = 1054;

TEST(ChooseLanguage, SwitchThenInstallationThenUserThenEnglish) {
  const std::vector<std::uint16_t> shipped = {kEnglish, kGerman,
                                              kPortugueseBrazil, kPortugal};
  struct Case {
    std::uint16_t switched, stored, user, language;
    bool ask;
  };
  for (const Case& c : {
           Case{0, 0, kGerman, kGerman, false},
           // By the primary language when the exact one is not shipped.
           Case{0, 0, kSwissGerman, kGerman, false},
           Case{0, 0, kPortugal, kPortugal, false},
           // None of the user's: English, and the list is offered.
           Case{0, 0, kThai, kEnglish, true},
           // An installation keeps its language; the list is offered when
           // the user's is another.
           Case{0, kGerman, kGerman, kGerman, false},
           Case{0, kGerman, kPortugal, kGerman, true},
           Case{0, kThai, kPortugal, kPortugal, false},
           // A switch wins, and asks nothing.
           Case{kPortugal, kGerman, kEnglish, kPortugal, false},
           Case{kSwissGerman, 0, kThai, kGerman, false},
           Case{kThai, 0, kGerman, kGerman, false},
       }) {
    const LanguageChoice choice =
        ChooseLanguage(c.switched, c.stored, c.user, shipped);
    EXPECT_EQ(choice.language, c.language)
        << c.switched << " " << c.stored << " " << c.user;
    EXPECT_EQ(choice.ask, c.ask)
        << c.switched << " " << c.stored << " " << c.user;
  }
}

TEST(ReadSwitches, WholeArgumentsInAnyCaseAndTheFolderLast) {
  const Switches read = ReadSwitches(
      L"\"C:\\setup.exe\" /s /currentuser /LANG=1031 /NoAssociations "
      L"/D=C:\\Photo Tools\\Tolvarin /AllUsers");
  EXPECT_EQ(read.scope, L"user");
  EXPECT_EQ(read.language, 1031U);
  EXPECT_TRUE(read.noAssociations);
  EXPECT_FALSE(read.desktopShortcut);
  EXPECT_EQ(read.folder, L"C:\\Photo Tools\\Tolvarin /AllUsers");
  EXPECT_EQ(ReadSwitches(L"setup.exe /LANG=10x31").language, 0U);
  EXPECT_EQ(ReadSwitches(L"setup.exe \"/D=C:\\Photo Tools\"").folder,
            L"C:\\Photo Tools");
  EXPECT_TRUE(ReadSwitches(std::wstring(1100, L'x')).tooLong);
}

}  // namespace
}  // namespace setup
