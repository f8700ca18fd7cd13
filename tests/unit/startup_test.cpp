#include "startup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_library.h"
#include "avx_probe.h"
#include "windows_stand_in.h"

namespace launcher {
namespace {

TEST(ExecutableDirectory, CutsAtTheLastBackslashOnly) {
  struct Case {
    const wchar_t* modulePath;
    const wchar_t* directory;
  };
  for (const Case& c : {
           Case{L"C:\\Program Files\\Tolvarin\\Tolvarin.exe",
                L"C:\\Program Files\\Tolvarin"},
           Case{L"Tolvarin.exe", L""},
           Case{L"\\Tolvarin.exe", L""},
           Case{L"C:/Program Files/Tolvarin.exe", L""},
           Case{L"C:\\Apps/Tolvarin\\Tolvarin.exe", L"C:\\Apps/Tolvarin"},
           Case{L"C:\\Apps/Tolvarin/Tolvarin.exe", L"C:"},
           Case{L"\\\\?\\C:\\deep\\Tolvarin.exe", L"\\\\?\\C:\\deep"},
           Case{L"\\\\server\\share\\Tolvarin.exe", L"\\\\server\\share"},
           Case{L"C:\\dir\\", L"C:\\dir"},
           Case{L"", L""},
       }) {
    EXPECT_EQ(ExecutableDirectory(c.modulePath), c.directory) << c.modulePath;
  }
}

TEST(Folders, HangBelowTheExecutableDirectoryWithOneBackslash) {
  EXPECT_EQ(DependencyFolder(L"C:\\Apps\\Tolvarin"),
            L"C:\\Apps\\Tolvarin\\Library\\x64");
  EXPECT_EQ(DependencyFolder(L""), L"\\Library\\x64");
  EXPECT_EQ(LibraryFolder(std::wstring(L"C:\\Apps\\Tolvarin\\Tolvarin.exe")),
            L"C:\\Apps\\Tolvarin\\Library\\");
  EXPECT_EQ(LibraryFolder(std::wstring(L"Tolvarin.exe")), L"\\Library\\");
  // Only a path that could not be read at all falls back to the relative
  // folder.
  EXPECT_EQ(LibraryFolder(std::nullopt), L".\\Library\\");
}

Switches Scan(std::vector<const wchar_t*> arguments) {
  return ScanSwitches(arguments.data(), static_cast<int>(arguments.size()));
}

TEST(ScanSwitches, MatchesWholeArgumentsCaseSensitively) {
  struct Case {
    std::vector<const wchar_t*> arguments;
    int noAvx;
    int satellite;
  };
  const std::vector<Case> cases = {
      {{L"app.exe"}, 0, 0},
      {{L"app.exe", L"/NOAVX"}, 1, 0},
      {{L"app.exe", L"/SATELLITE"}, 0, 1},
      {{L"app.exe", L"/NOAVX", L"/SATELLITE"}, 1, 1},
      {{L"app.exe", L"/SATELLITE", L"x.jpg", L"/NOAVX"}, 1, 1},
      {{L"app.exe", L"/NOAVX", L"/NOAVX", L"/SATELLITE", L"/NOAVX"}, 1, 1},
      {{L"/NOAVX"}, 0, 0},
      {{L"/SATELLITE", L"photo.jpg"}, 0, 0},
      {{L"app.exe", L"/noavx", L"/satellite"}, 0, 0},
      {{L"app.exe", L"/NoAvx", L"/Satellite"}, 0, 0},
      {{L"app.exe", L"-NOAVX", L"-SATELLITE"}, 0, 0},
      {{L"app.exe", L"NOAVX", L"SATELLITE"}, 0, 0},
      {{L"app.exe", L"/NOAVX:1", L"/SATELLITE:2"}, 0, 0},
      {{L"app.exe", L"/NOAVX ", L"/SATELLITE "}, 0, 0},
      {{L"app.exe", L" /NOAVX", L"//SATELLITE"}, 0, 0},
      {{L"app.exe", L"/NOAVX /SATELLITE"}, 0, 0},
      {{L"app.exe", L"", L"/NOAVX\x00A0"}, 0, 0},
  };
  for (const Case& c : cases) {
    const Switches switches = Scan(c.arguments);
    std::wstring line;
    for (const wchar_t* argument : c.arguments) {
      line += L"[" + std::wstring(argument) + L"]";
    }
    EXPECT_EQ(switches.noAvx, c.noAvx) << std::string(line.begin(), line.end());
    EXPECT_EQ(switches.satellite, c.satellite)
        << std::string(line.begin(), line.end());
  }
}

TEST(ChooseAvx, NoAvxSkipsTheProbe) {
  int probes = 0;
  const auto probe = [&probes] {
    ++probes;
    return 1;
  };
  EXPECT_EQ(ChooseAvx(1, probe), 0);
  EXPECT_EQ(probes, 0);
  EXPECT_EQ(ChooseAvx(0, probe), 1);
  EXPECT_EQ(ChooseAvx(0, [] { return 0; }), 0);
  EXPECT_EQ(probes, 1);
}

class WithStandIn : public ::testing::Test {
 protected:
  void SetUp() override { ResetStandIn(); }
};

using ReadModulePathTest = WithStandIn;

TEST_F(ReadModulePathTest, AShortPathIsReadOnce) {
  StandIn().modulePath = L"C:\\Tolvarin\\Tolvarin.exe";
  EXPECT_EQ(ReadModulePath(), StandIn().modulePath);
  EXPECT_EQ(StandIn().moduleFileNameSizes, std::vector<DWORD>{4096});
}

TEST_F(ReadModulePathTest, GrowsTheBufferWhileThePathFillsIt) {
  struct Case {
    std::size_t length;
    std::vector<DWORD> sizes;
  };
  for (const Case& c :
       {Case{4095, {4096}}, Case{4096, {4096, 8192}}, Case{5000, {4096, 8192}},
        Case{20000, {4096, 8192, 16384, 32768}},
        Case{32767, {4096, 8192, 16384, 32768}}}) {
    ResetStandIn();
    std::wstring path = L"C:\\";
    path += std::wstring(c.length - path.size() - 4, L'd') + L"\\a.e";
    ASSERT_EQ(path.size(), c.length);
    StandIn().modulePath = path;
    EXPECT_EQ(ReadModulePath(), path) << c.length;
    EXPECT_EQ(StandIn().moduleFileNameSizes, c.sizes) << c.length;
  }
}

TEST_F(ReadModulePathTest, APathThatNeverFitsOrAFailureGivesNone) {
  StandIn().modulePath = L"C:\\" + std::wstring(40000, L'd') + L"\\a.exe";
  EXPECT_EQ(ReadModulePath(), std::nullopt);
  EXPECT_EQ(StandIn().moduleFileNameSizes.back(), kModulePathMost);

  ResetStandIn();
  StandIn().moduleFileNameFails = true;
  EXPECT_EQ(ReadModulePath(), std::nullopt);
  EXPECT_EQ(StandIn().moduleFileNameSizes, std::vector<DWORD>{4096});
}

using LaunchTest = WithStandIn;

std::vector<std::wstring> LaunchWith(std::vector<const wchar_t*> arguments) {
  std::vector<wchar_t*> argv;
  for (const wchar_t* argument : arguments) {
    argv.push_back(const_cast<wchar_t*>(argument));
  }
  const int argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);
  StandIn().entry = [&argv, argc](wchar_t** seenArgv, int seenArgc, int) {
    EXPECT_EQ(seenArgv, argv.data());
    EXPECT_EQ(seenArgc, argc);
  };
  Launch(argv.data(), argc);
  return StandIn().calls;
}

TEST_F(LaunchTest, InstallsTheDependencyFolderBeforeLoadingByFullPath) {
  StandIn().modulePath = L"D:\\Photo Apps\\Tolvarin.exe";
  const std::vector<std::wstring> expected = {
      L"GetModuleFileNameW",
      L"SetDllDirectoryW(D:\\Photo Apps\\Library\\x64)",
      L"LoadLibraryW(D:\\Photo Apps\\Library\\TOLVARIN64.dll)",
      L"CoInitialize",
      L"GetProcAddress(StartSatellite)",
      L"entry",
      L"FreeLibrary",
      L"CoUninitialize"};
  EXPECT_EQ(LaunchWith({L"Tolvarin.exe", L"/SATELLITE", L"/NOAVX"}), expected);
}

TEST_F(LaunchTest, WithoutNoAvxTheProbeChoosesTheBuild) {
  const std::wstring file = LibraryFileName(IsAvxUsable());
  const std::vector<std::wstring> calls = LaunchWith({L"Tolvarin.exe"});
  ASSERT_GE(calls.size(), 3U);
  EXPECT_EQ(calls[2], L"LoadLibraryW(C:\\Program Files\\Tolvarin\\Library\\" +
                          file + L")");
  EXPECT_EQ(calls[4], L"GetProcAddress(StartKorvadine)");
}

TEST_F(LaunchTest, AnUnreadableModulePathSkipsTheDependencyFolder) {
  StandIn().moduleFileNameFails = true;
  const std::vector<std::wstring> calls =
      LaunchWith({L"Tolvarin.exe", L"/NOAVX"});
  ASSERT_GE(calls.size(), 2U);
  EXPECT_EQ(calls[0], L"GetModuleFileNameW");
  EXPECT_EQ(calls[1], L"LoadLibraryW(.\\Library\\TOLVARIN64.dll)");
}

TEST_F(LaunchTest, ACutShortModulePathIsNotUsed) {
  StandIn().modulePath = L"C:\\" + std::wstring(33000, L'd') + L"\\a.exe";
  const std::vector<std::wstring> calls =
      LaunchWith({L"Tolvarin.exe", L"/NOAVX"});
  ASSERT_EQ(calls.size(), 10U);
  EXPECT_EQ(calls[4], L"LoadLibraryW(.\\Library\\TOLVARIN64.dll)");
  for (const std::wstring& call : calls) {
    EXPECT_EQ(call.rfind(L"SetDllDirectoryW", 0), std::wstring::npos);
  }
}

TEST_F(LaunchTest, ReturnsTheExitCodeOfTheHandOff) {
  wchar_t program[] = L"Tolvarin.exe";
  wchar_t* argv[] = {program, nullptr};
  EXPECT_EQ(Launch(argv, 1), 0);
  StandIn().exports = {"StartSatellite"};
  EXPECT_EQ(Launch(argv, 1), 2);
  StandIn().loadSucceeds = false;
  EXPECT_EQ(Launch(argv, 1), 1);
}

}  // namespace
}  // namespace launcher
