#include "app_library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "windows_stand_in.h"

namespace launcher {
namespace {

TEST(Names, FilesAndEntryPoints) {
  EXPECT_EQ(LibraryFileName(1), L"TOLVARIN64avx.dll");
  EXPECT_EQ(LibraryFileName(0), L"TOLVARIN64.dll");
  EXPECT_STREQ(EntryPointName(0), "StartKorvadine");
  EXPECT_STREQ(EntryPointName(1), "StartSatellite");
}

TEST(ExitCode, TellsAStartFromEachFailure) {
  EXPECT_EQ(ExitCode(HandOff::kStarted), 0);
  EXPECT_EQ(ExitCode(HandOff::kNotLoaded), 1);
  EXPECT_EQ(ExitCode(HandOff::kNoEntryPoint), 2);
}

class HandOffTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetStandIn(); }

  HandOff Run(int useAvx, int satellite) {
    return RunApplicationLibrary(L"C:\\T\\Library\\", useAvx, satellite, argv_,
                                 2);
  }

  wchar_t program_[8] = L"T.exe";
  wchar_t photo_[8] = L"a.jpg";
  wchar_t* argv_[3] = {program_, photo_, nullptr};
};

TEST_F(HandOffTest, LoadsOpensComCallsThenFreesBeforeClosingCom) {
  EXPECT_EQ(Run(1, 0), HandOff::kStarted);
  const std::vector<std::wstring> expected = {
      L"LoadLibraryW(C:\\T\\Library\\TOLVARIN64avx.dll)",
      L"CoInitialize",
      L"GetProcAddress(StartKorvadine)",
      L"entry",
      L"FreeLibrary",
      L"CoUninitialize"};
  EXPECT_EQ(StandIn().calls, expected);
}

TEST_F(HandOffTest, TheEntryPointGetsTheVectorItselfAndTheAvxChoice) {
  for (int useAvx : {0, 1}) {
    ResetStandIn();
    int calls = 0;
    StandIn().entry = [&](wchar_t** argv, int argc, int seenUseAvx) {
      ++calls;
      EXPECT_EQ(argv, argv_);
      EXPECT_EQ(argc, 2);
      EXPECT_EQ(seenUseAvx, useAvx);
    };
    Run(useAvx, 1);
    EXPECT_EQ(calls, 1);
  }
}

TEST_F(HandOffTest, AFailedLoadTouchesNothingElse) {
  StandIn().loadSucceeds = false;
  EXPECT_EQ(Run(0, 0), HandOff::kNotLoaded);
  EXPECT_EQ(StandIn().calls,
            std::vector<std::wstring>{
                L"LoadLibraryW(C:\\T\\Library\\TOLVARIN64.dll)"});
}

TEST_F(HandOffTest, AMissingEntryPointHasNoFallBack) {
  StandIn().exports = {"StartKorvadine"};
  EXPECT_EQ(Run(0, 1), HandOff::kNoEntryPoint);
  const std::vector<std::wstring> expected = {
      L"LoadLibraryW(C:\\T\\Library\\TOLVARIN64.dll)", L"CoInitialize",
      L"GetProcAddress(StartSatellite)", L"FreeLibrary", L"CoUninitialize"};
  EXPECT_EQ(StandIn().calls, expected);

  ResetStandIn();
  StandIn().exports = {"StartSatellite"};
  EXPECT_EQ(Run(0, 0), HandOff::kNoEntryPoint);
  EXPECT_EQ(StandIn().calls[2], L"GetProcAddress(StartKorvadine)");
}

TEST_F(HandOffTest, ComIsClosedOnlyWhenTheLauncherOpenedIt) {
  struct Case {
    HRESULT coInitialize;
    bool uninitialised;
  };
  for (const Case& c :
       {Case{S_OK, true}, Case{S_FALSE, true}, Case{RPC_E_CHANGED_MODE, false},
        Case{static_cast<HRESULT>(0x8007000E), false}}) {
    ResetStandIn();
    StandIn().coInitializeResult = c.coInitialize;
    EXPECT_EQ(Run(0, 0), HandOff::kStarted);
    const std::vector<std::wstring>& calls = StandIn().calls;
    EXPECT_EQ(calls[3], L"entry") << std::hex << c.coInitialize;
    EXPECT_EQ(calls.back() == L"CoUninitialize", c.uninitialised)
        << std::hex << c.coInitialize;
    EXPECT_EQ(calls.size(), c.uninitialised ? 6U : 5U);
  }
}

}  // namespace
}  // namespace launcher
