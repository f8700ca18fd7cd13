// The installer's jobs against an in-memory Windows, stopped at every point
// at which they change something: by a kill of the setup (everything done so
// far stays), by a power loss (the registry as last flushed) and by a kill of
// Wine's whole server (the registry as before the job, since Wine writes it
// only every 30 s); and each change failing once.
#include "job.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "memory_platform.h"
#include "product.h"
#include "registration.h"
#include "text.h"

namespace setup {
namespace {

const std::wstring kProgramFiles = L"C:\\Program Files\\Tolvarin";
const std::wstring kOldPayload = L"C:\\payload\\old";
const std::wstring kNewPayload = L"C:\\payload\\new";

std::string Narrow(const std::wstring& text) {
  return {text.begin(), text.end()};
}

void AddPayloads(MemoryPlatform* platform) {
  for (std::size_t n = 0; n < kOwnFiles.size(); ++n) {
    platform->AddFile(kOldPayload + L"\\" + Decimal(n),
                      "old " + Narrow(kOwnFiles.at(n)));
    platform->AddFile(kNewPayload + L"\\" + Decimal(n),
                      "new " + Narrow(kOwnFiles.at(n)));
  }
}

InstallJob Job(Root root, const std::wstring& folder,
               const std::wstring& payload, Choices choices = {}) {
  return {root, folder,  choices,     payload == kNewPayload ? L"2.0" : L"1.0",
          1234, payload, L"Tolvarin", 0};
}

// Runs the uninstaller as it runs: its original process holds its file until
// the job is committed, then the rest is finished.
// Knows its version's files by their digests (the model's are the bytes).
Outcome RunUninstall(MemoryPlatform& platform, const std::wstring& folder) {
  const std::wstring uninstaller = Lower(folder + L"\\Uninstall.exe");
  std::vector<std::string> digests;
  for (std::size_t n = 0; n < kOwnFiles.size(); ++n) {
    digests.push_back(platform.Digest(kNewPayload + L"\\" + Decimal(n)));
  }
  platform.held.insert(uninstaller);
  Root journal = Root::kUser;
  const Outcome outcome =
      Uninstall(platform, {folder, true, 0, digests}, &journal);
  platform.held.erase(uninstaller);
  if (outcome.code == kExitDone) {
    FinishJob(platform, journal);
  }
  return outcome;
}

struct Scenario {
  const char* name;
  std::function<void(MemoryPlatform&)> before;
  std::function<Outcome(MemoryPlatform&)> job;
  std::vector<std::wstring> folders;  // whose own files must stay whole
  // Whether the record may be lost, as with Wine's registry: not for a copy
  // no scope registers, whose uninstaller alone left is no installation.
  bool withoutRecord = true;
};

std::vector<Scenario> Scenarios() {
  const auto installed = [](Root root, const std::wstring& folder,
                            const std::wstring& payload) {
    return [=](MemoryPlatform& p) {
      ASSERT_EQ(
          Install(p, Job(root, folder, payload, {true, false, true})).code,
          kExitDone);
      // The user's files, and a file of the installation made read-only.
      p.AddFile(folder + L"\\Presets\\mine.xmp", "the user's");
      p.AddFile(folder + L"\\Library\\x64\\plugin.dll", "the user's");
      p.SetAttributes(folder + L"\\THIRD-PARTY-NOTICES.txt", kReadOnly);
      // Another program's .jpg.
      p.WriteValue(root, L"Software\\Classes\\.jpg\\OpenWithProgids",
                   L"Other.jpg", {kRegNone, {}});
    };
  };
  const std::wstring a = L"C:\\Apps\\A";
  const std::wstring b = L"C:\\Apps\\B";
  const std::wstring user = L"C:\\Users\\me\\AppData\\Local\\Programs\\T";
  return {
      {"a first installation, crash dumps kept",
       [](MemoryPlatform&) {},
       [](MemoryPlatform& p) {
         return Install(p, Job(Root::kMachine, kProgramFiles, kNewPayload,
                               {true, false, true}));
       },
       {kProgramFiles}},
      {"an upgrade that turns Open with and crash dumps off and a desktop "
       "shortcut on",
       installed(Root::kMachine, kProgramFiles, kOldPayload),
       [](MemoryPlatform& p) {
         return Install(
             p, Job(Root::kMachine, kProgramFiles, kNewPayload, {false, true}));
       },
       {kProgramFiles}},
      {"an upgrade into another folder",
       installed(Root::kMachine, a, kOldPayload),
       [=](MemoryPlatform& p) {
         return Install(p, Job(Root::kMachine, b, kNewPayload));
       },
       {a, b}},
      {"an upgrade for the current user that turns Open with off",
       installed(Root::kUser, user, kOldPayload),
       [=](MemoryPlatform& p) {
         return Install(p, Job(Root::kUser, user, kNewPayload, {false, false}));
       },
       {user}},
      {"an uninstall",
       installed(Root::kMachine, kProgramFiles, kNewPayload),
       [](MemoryPlatform& p) { return RunUninstall(p, kProgramFiles); },
       {kProgramFiles}},
      // A copy of an installation that no scope registers, where another
      // program's Tolvarin.exe stands: that one stays.
      {"an unregistered copy's uninstall",
       [](MemoryPlatform& p) {
         for (std::size_t n = 0; n < kOwnFiles.size(); ++n) {
           p.AddFile(L"C:\\Copy\\" + std::wstring(kOwnFiles.at(n)),
                     n == kLauncher ? "another program's"
                                    : "new " + Narrow(kOwnFiles.at(n)));
         }
       },
       [](MemoryPlatform& p) { return RunUninstall(p, L"C:\\Copy"); },
       {L"C:\\Copy"},
       false},
  };
}

bool SameState(const MemoryPlatform& a, const MemoryPlatform& b) {
  return a.files == b.files && a.registry == b.registry;
}

// The first names whose files or keys differ, for a failure's message.
template <typename Map>
std::string Differences(const Map& a, const Map& b) {
  std::string names;
  for (const auto& [name, value] : a) {
    const auto other = b.find(name);
    if (other == b.end() || !(other->second == value)) {
      names += " -" + Narrow(name);
    }
  }
  for (const auto& entry : b) {
    if (a.count(entry.first) == 0) {
      names += " +" + Narrow(entry.first);
    }
  }
  return names.substr(0, 600);
}

std::string Differences(const MemoryPlatform& a, const MemoryPlatform& b) {
  return Differences(a.files, b.files) + " |" +
         Differences(a.registry, b.registry);
}

// Each own file is whole, as before or as after the job.
void ExpectWhole(const MemoryPlatform& now, const MemoryPlatform& before,
                 const MemoryPlatform& after, const Scenario& scenario) {
  for (const std::wstring& folder : scenario.folders) {
    for (const wchar_t* name : kOwnFiles) {
      const std::wstring path = Lower(folder + L"\\" + name);
      const auto find = [&](const MemoryPlatform& p) -> const Node* {
        const auto found = p.files.find(path);
        return found == p.files.end() ? nullptr : &found->second;
      };
      const Node* node = find(now);
      const Node* old = find(before);
      const Node* fresh = find(after);
      if (node == nullptr) {
        EXPECT_TRUE(old == nullptr || fresh == nullptr ||
                    std::string(scenario.name).find("uninstall") !=
                        std::string::npos)
            << Narrow(path);
      } else {
        EXPECT_TRUE((old != nullptr && node->bytes == old->bytes) ||
                    (fresh != nullptr && node->bytes == fresh->bytes))
            << Narrow(path) << ": " << node->bytes;
      }
    }
  }
}

enum class Stop { kSetupKilled, kPowerLost, kWineServerKilled };

// A scenario's world before and after its job, run without a fault.
class SetupJob : public testing::TestWithParam<std::size_t> {
 protected:
  void SetUp() override {
    AddPayloads(&before_);
    // Windows has it; LocalDumps below it is what a job may make.
    before_.CreateKey(Root::kMachine,
                      L"Software\\Microsoft\\Windows\\Windows Error Reporting");
    scenario_.before(before_);
    before_.flushed = before_.registry;
    before_.changes = 0;
    after_ = before_;
    ASSERT_EQ(scenario_.job(after_).code, kExitDone);
    ASSERT_FALSE(SameState(before_, after_));
  }

  const Scenario scenario_ = Scenarios()[GetParam()];
  MemoryPlatform before_;
  MemoryPlatform after_;
};

TEST_P(SetupJob, StoppedAtEveryChangeTheNextRunEndsItWhole) {
  for (int at = 1; at <= after_.changes; ++at) {
    for (const Stop stop :
         {Stop::kSetupKilled, Stop::kPowerLost, Stop::kWineServerKilled}) {
      if (stop == Stop::kWineServerKilled && !scenario_.withoutRecord) {
        continue;
      }
      SCOPED_TRACE("stopped at change " + std::to_string(at) + " by " +
                   std::to_string(static_cast<int>(stop)));
      MemoryPlatform p = before_;
      p.powerLossAt = at;
      EXPECT_THROW(scenario_.job(p), PowerLoss);
      p.powerLossAt = 0;
      p.held.clear();
      if (stop == Stop::kPowerLost) {
        p.Restart();
      } else if (stop == Stop::kWineServerKilled) {
        p.registry = before_.registry;
      }
      ExpectWhole(p, before_, after_, scenario_);
      if (stop == Stop::kWineServerKilled) {
        // Without the record the next run of the same job still ends as
        // the job would have.
        ASSERT_EQ(scenario_.job(p).code, kExitDone);
        EXPECT_TRUE(SameState(p, after_)) << Differences(p, after_);
      } else {
        ASSERT_EQ(Recover(p, Root::kMachine).code, kExitDone);
        ASSERT_EQ(Recover(p, Root::kUser).code, kExitDone);
        EXPECT_TRUE(SameState(p, before_) || SameState(p, after_))
            << Differences(p, before_) << " ||| " << Differences(p, after_);
      }
    }
  }
}

TEST_P(SetupJob, AChangeThatFailsLeavesTheStateBeforeTheJob) {
  for (int at = 1; at <= after_.changes; ++at) {
    SCOPED_TRACE("change " + std::to_string(at) + " failed");
    MemoryPlatform p = before_;
    p.failAt = at;
    const Outcome outcome = scenario_.job(p);
    // What one run could not undo or finish, the next does.
    ASSERT_EQ(Recover(p, Root::kMachine).code, kExitDone);
    ASSERT_EQ(Recover(p, Root::kUser).code, kExitDone);
    const MemoryPlatform& expected =
        outcome.code == kExitDone ? after_ : before_;
    EXPECT_TRUE(SameState(p, expected))
        << outcome.code << " " << Narrow(outcome.reason) << " "
        << Differences(p, expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Jobs, SetupJob,
                         testing::Range<std::size_t>(0, Scenarios().size()),
                         [](const testing::TestParamInfo<std::size_t>& info) {
                           std::string name = Scenarios()[info.param].name;
                           for (char& c : name) {
                             c = std::isalnum(static_cast<unsigned char>(c)) !=
                                         0
                                     ? c
                                     : '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace setup
