// The whole installer, run silently, against servers that fail: the
// configuration server, the package download and the statistics server
// each answer with errors, stall, lie or go away. Every run must end within
// its bound with the right end reason, start only a verified package, and
// leave the item's folder consistent.
#include <chrono>

#include "app/testing/package_fixture_win.h"
#include "net/resume_record.h"

namespace {

enum class Config { kGood, kUndecryptable, kNotXml };

struct Scenario {
  const char* tn;
  Config config;
  const char* configRule;   // test server actions for the configuration, or ""
  const char* packageRule;  // for the package, or ""
  const char* collector;    // the statistics server's answer: "200", "500", "hang", "close"
  const wchar_t* configSeconds;  // shortened download limits, or nullptr
  const wchar_t* setupSeconds;
  int endReason;
  bool packageStarted;
};

// A configuration fetch that fails (an error status, no answer, no HTTP)
// is retried until its time limit and then falls back to the built-in item,
// whose package URL the test server answers with 404.
const Scenario kScenarios[] = {
    // The configuration server.
    {"cf404", Config::kGood, "status=404", "", "200", nullptr, nullptr, 5, false},
    {"cf500", Config::kGood, "status=500", "", "200", L"5", nullptr, 5, false},
    {"cfstall", Config::kGood, "delay=30000", "", "200", L"3", nullptr, 5, false},
    {"cfgarbage", Config::kGood, "garbage=1", "", "200", L"5", nullptr, 5, false},
    // A body cut short is continued by range.
    {"cfcut", Config::kGood, "drop=100&count=1", "", "200", nullptr, nullptr, 0, true},
    {"cfundecryptable", Config::kUndecryptable, "", "", "200", nullptr, nullptr, 2, false},
    {"cfnotxml", Config::kNotXml, "", "", "200", nullptr, nullptr, 2, false},
    // The package download.
    {"pk500", Config::kGood, "", "status=500", "200", nullptr, L"6", 5, false},
    {"pkstall", Config::kGood, "", "delay=30000", "200", nullptr, L"4", 5, false},
    {"pkdrop", Config::kGood, "", "drop=100000&count=1", "200", nullptr, nullptr, 0, true},
    {"pkshort", Config::kGood, "", "short=5000&count=2", "200", nullptr, nullptr, 0, true},
    {"pkgarbage", Config::kGood, "", "garbage=1&count=1", "200", nullptr, nullptr, 0, true},
    {"pknorange", Config::kGood, "", "norange=1", "200", nullptr, nullptr, 0, true},
    {"pktotal", Config::kGood, "", "total=99&from=2&count=1", "200", nullptr, nullptr, 0, true},
    {"pklastmod", Config::kGood, "", "lastmod=1600000000&from=2&count=1", "200", nullptr, nullptr,
     0, true},
    // The statistics server: the outcome is the same whatever it does.
    {"st500", Config::kGood, "", "", "500", nullptr, nullptr, 0, true},
    {"sthang", Config::kGood, "", "", "hang", nullptr, nullptr, 0, true},
    {"stdown", Config::kGood, "", "", "close", nullptr, nullptr, 0, true},
};

class FaultScenarioTest : public PackageFixture,
                          public ::testing::WithParamInterface<Scenario> {};

TEST_P(FaultScenarioTest, EndsInTimeWithTheRightOutcome) {
  const Scenario& s = GetParam();
  Serve(s.tn, "");
  const std::string configPath = std::string("/oi/config/config_") + s.tn + ".xml";
  if (s.config != Config::kGood) {
    std::string document = s.config == Config::kNotXml
                               ? std::string("this is not a configuration")
                               : std::string(160, '\x5A');  // blocks that decrypt to noise
    if (s.config == Config::kNotXml) {
      EncryptConfigBlocks(MakeConfigKey(build_config::kConfigKeyText), &document);
    }
    ASSERT_TRUE(server_.ServeBytes(configPath, document));
  }
  if (*s.configRule) {
    ASSERT_TRUE(server_.Rule(configPath, s.configRule));
  }
  if (*s.packageRule) {
    ASSERT_TRUE(server_.Rule(std::string("/pkg/") + s.tn + ".exe", s.packageRule));
  }
  ASSERT_TRUE(collector_.Control(std::string("status=") + s.collector));
  SetEnvironmentVariableW(L"ZETORA_TEST_CONFIG_SECONDS", s.configSeconds);
  SetEnvironmentVariableW(L"ZETORA_TEST_SETUP_SECONDS", s.setupSeconds);

  const auto started = std::chrono::steady_clock::now();
  const InstallerRunResult run = Run(s.tn, 150000);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now() - started).count();
  ASSERT_TRUE(collector_.Control("status=200"));
  ASSERT_EQ(run.exitCode, static_cast<DWORD>(s.endReason)) << "did not end in time, or not with its end reason\n" << run.diagnostics;
  EXPECT_LE(seconds, 90) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=" + std::to_string(s.endReason) +
                                       " "))
      << run.diagnostics;
  EXPECT_EQ(Has(PackageLog(), "command: "), s.packageStarted) << PackageLog();
  EXPECT_EQ(Exists(SetupPath()), s.packageStarted);
  if (s.packageStarted) {
    EXPECT_EQ(ReadWholeFile(SetupPath()), SignedPackage(""));
    EXPECT_FALSE(Exists(SetupPath() + L".tmp"));
    EXPECT_FALSE(Exists(SetupPath() + L".tmp.resume"));
  }
  // The collector saw the end of the run unless it was made to drop it.
  if (std::string(s.collector) == "200") {
    EXPECT_NE(run.EndLine(), "") << run.diagnostics;
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultScenarioTest, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return std::string(info.param.tn);
                         });

// A configuration server that refuses connections (nothing listens on its
// port): the built-in item's attachment and package are refused too. The
// downloads end by the bound on a run without any byte, not by their hour:
// once with a shortened bound, once with the real two minutes.
TEST_F(PackageFixture, RefusedConnectionsEndTheRunByTheStallBound) {
  struct Case {
    const wchar_t* stallSeconds;  // nullptr: the real bound
    int minSeconds, maxSeconds;
  };
  // The configuration's 3 s count towards the run's silence: the package
  // gets the rest of the bound or its own minimum attempt, whichever is longer.
  const Case cases[] = {{L"8", 7, 28}, {nullptr, 120, 170}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stallSeconds ? "shortened bound" : "real bound");
    Serve("cfrefused", "");
    SetEnvironmentVariableW(L"ZETORA_TEST_CONFIG_SECONDS", L"3");
    SetEnvironmentVariableW(L"ZETORA_TEST_STALL_SECONDS", c.stallSeconds);
    ASSERT_TRUE(server_.Control("close?ms=" + std::to_string((c.maxSeconds + 10) * 1000)));
    Sleep(1000);  // the listener stops within its poll interval
    const auto started = std::chrono::steady_clock::now();
    const InstallerRunResult run = Run("cfrefused", (c.maxSeconds + 20) * 1000);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::steady_clock::now() - started).count();
    SetEnvironmentVariableW(L"ZETORA_TEST_STALL_SECONDS", nullptr);
    EXPECT_EQ(run.exitCode, 5u) << "did not end in time\n" << run.diagnostics;
    EXPECT_GE(seconds, c.minSeconds) << run.diagnostics;
    EXPECT_LE(seconds, c.maxSeconds) << run.diagnostics;
    EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=5 ")) << run.diagnostics;
    EXPECT_TRUE(Has(ValueOf(run.FinalMap(), "dstp"), ":asl")) << run.FinalMap();
    EXPECT_EQ(PackageLog(), "");
    // The server listens again before the next case.
    bool back = false;
    for (int i = 0; i < 3000 && !(back = server_.Reset()); ++i) Sleep(100);
    EXPECT_TRUE(back);
  }
}

// Runs that end abruptly, or whose package changes or whose disk fills,
// and the run after them.
class InterruptedRunTest : public PackageFixture {
 protected:
  std::string PackagePath(const std::string& tn) const { return "/pkg/" + tn + ".exe"; }

  // Starts the installer for tn, ends it (TerminateProcess) once the server
  // sent at least `bytes` of the package and returns how much it sent.
  uint64_t KillAfterServed(const std::string& tn, uint64_t bytes) {
    HANDLE installer = StartInstaller(Wide(tn), L"/S");
    EXPECT_NE(installer, nullptr);
    if (installer == nullptr) return 0;
    for (int i = 0; i < 2400 && BytesServed(server_.Log(PackagePath(tn))) < bytes; ++i) Sleep(25);
    TerminateProcess(installer, 1);
    WaitForSingleObject(installer, 10000);
    CloseHandle(installer);
    return BytesServed(server_.Log(PackagePath(tn)));
  }

  // A run of the next installer starts clean: no product, no package log.
  void ForgetTheInstall() {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexlo\\ZetoraBrowser");
    DeleteFileW(packageLog_->c_str());
  }

  // The bytes the resume record lists as held match `expected` there; counts them.
  static uint64_t CheckHeldBytes(const std::wstring& partial, const std::string& expected) {
    const std::string data = ReadWholeFile(partial);
    const std::string stored = ReadWholeFile(partial + L".resume");
    net::ResumeRecord record;
    EXPECT_TRUE(net::ParseResumeRecord(reinterpret_cast<const uint8_t*>(stored.data()),
                                       stored.size(), &record));
    EXPECT_EQ(record.fileSize, expected.size());
    EXPECT_EQ(data.size(), expected.size());
    uint64_t held = 0;
    uint64_t from = 0;
    auto compare = [&](uint64_t end) {  // [from, end) is held
      if (end > from && end <= data.size()) {
        EXPECT_TRUE(data.compare(from, end - from, expected, from, end - from) == 0)
            << "held bytes " << from << "-" << end << " differ from the package";
        held += end - from;
      }
    };
    for (const net::ByteRange& missing : record.ranges) {
      compare(missing.first);
      from = uint64_t{missing.last} + 1;
    }
    compare(data.size());
    return held;
  }
};

// Killed at 10 %, 50 % and 90 % of the package, the next run continues from
// the resume record: both runs together fetch the package about once, and
// it is installed once.
TEST_F(InterruptedRunTest, KilledDownloadsContinueInTheNextRun) {
  const std::string package = SignedPackage("");
  const uint64_t size = package.size();
  for (int percent : {10, 50, 90}) {
    const std::string tn = "kill" + std::to_string(percent);
    SCOPED_TRACE(tn);
    ForgetTheInstall();
    Serve(tn, "");
    ASSERT_TRUE(server_.Rule(PackagePath(tn), "rate=48000"));
    const uint64_t first = KillAfterServed(tn, size * percent / 100);
    ASSERT_LT(first, size);
    ASSERT_GE(CheckHeldBytes(SetupPath() + L".tmp", package), size * (percent - 5) / 100);

    ASSERT_TRUE(server_.Reset());
    ServeFiles(tn, "");
    const InstallerRunResult run = Run(tn);
    ASSERT_EQ(run.exitCode, 0u) << run.diagnostics;
    EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=0 ")) << run.diagnostics;
    EXPECT_TRUE(Has(ValueOf(run.FinalMap(), "dstp"), ";cks1")) << run.FinalMap();
    const std::string log = PackageLog();
    EXPECT_EQ(log.find("command: "), log.rfind("command: ")) << log;  // started once
    EXPECT_TRUE(Has(log, "registered=1")) << log;
    const uint64_t second = BytesServed(server_.Log(PackagePath(tn)));
    EXPECT_LE(first + second, size + size / 20) << first << " + " << second << " of " << size;
    EXPECT_EQ(ReadWholeFile(SetupPath()), package);
    EXPECT_FALSE(Exists(SetupPath() + L".tmp"));
    EXPECT_FALSE(Exists(SetupPath() + L".tmp.resume"));
  }
}

// The package is replaced on the server between the runs (same address,
// other bytes, length or date): the next run fetches it whole instead of
// completing the old bytes with new ones, and starts it only when it passes
// the signature check.
TEST_F(InterruptedRunTest, APackageChangedBetweenRunsIsFetchedWhole) {
  struct Case {
    const char* tn;
    const char* variant;  // what the server holds for the second run
    const char* cut;      // actions for its unranged request, the second
    int endReason;
    bool started;
  };
  const Case cases[] = {
      // Another valid build, another length.
      {"chupdate", "_update", "", 0, true},
      // The same length, one code byte (at 1088) altered, refused. The
      // unranged request ends after 512 bytes: bytes 512 on must come from
      // the new file too, not from the original held on disk.
      {"chaltered", "_altered", "drop=512&from=2&count=1&", 6, false},
  };
  const uint64_t size = SignedPackage("").size();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tn);
    ForgetTheInstall();
    Serve(c.tn, "");
    ASSERT_TRUE(server_.Rule(PackagePath(c.tn), "rate=48000"));
    KillAfterServed(c.tn, size / 2);
    ASSERT_TRUE(Exists(SetupPath() + L".tmp.resume"));

    ASSERT_TRUE(server_.Reset());
    ServeFiles(c.tn, c.variant);
    if (*c.cut) {
      ASSERT_TRUE(server_.Rule(PackagePath(c.tn), c.cut + std::string("lastmod=1710000000")));
    }
    ASSERT_TRUE(server_.Rule(PackagePath(c.tn), "lastmod=1710000000"));
    const std::string replacement = SignedPackage(c.variant);
    const InstallerRunResult run = Run(c.tn);
    ASSERT_EQ(run.exitCode, static_cast<DWORD>(c.endReason)) << run.diagnostics;
    EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=" + std::to_string(c.endReason) +
                                         " "))
        << run.diagnostics;
    EXPECT_GE(BytesServed(server_.Log(PackagePath(c.tn))), replacement.size());
    EXPECT_EQ(Has(PackageLog(), "command: "), c.started) << PackageLog();
    EXPECT_EQ(Exists(SetupPath()), c.started);
    if (c.started) {
      EXPECT_EQ(ReadWholeFile(SetupPath()), replacement);
    }
    EXPECT_FALSE(Exists(SetupPath() + L".tmp"));
    EXPECT_FALSE(Exists(SetupPath() + L".tmp.resume"));
  }
}

// The Unix path of a Windows path, through Wine's own export; "" elsewhere.
std::string UnixPath(const std::wstring& path) {
  using Convert = char*(CDECL*)(const wchar_t*);
  const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unix = convert != nullptr ? convert(path.c_str()) : nullptr;
  if (unix == nullptr) return "";
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

// The disk fills during the package download (a file system smaller than
// the package, mounted on the item's folder by the test server): the run
// ends cleanly, the partial file holds what its record says, and the next
// run, with space, continues it.
TEST_F(InterruptedRunTest, AFullDiskEndsCleanlyAndTheNextRunContinues) {
  const std::string package = SignedPackage("");
  const uint64_t size = package.size();
  Serve("fulldisk", "");
  CreateDirectoryW(TestInstallerDirectory().c_str(), nullptr);
  CreateDirectoryW(ItemFolder().c_str(), nullptr);
  const std::string folder = UnixPath(ItemFolder());
  ASSERT_NE(folder, "");
  if (!server_.Control("mount?dir=" + folder + "&size=" + std::to_string(size / 2048) + "k")) {
    GTEST_SKIP() << "the test server could not mount a small file system on " << folder
                 << " (it must run as root in a system that allows mounts)";
  }
  ASSERT_TRUE(server_.Rule(PackagePath("fulldisk"), "rate=96000"));  // records are kept on the way
  const InstallerRunResult run = Run("fulldisk", 60000);
  const uint64_t first = BytesServed(server_.Log(PackagePath("fulldisk")));
  EXPECT_EQ(run.exitCode, 5u) << "did not end in time, or not with its end reason\n" << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=5 ")) << run.diagnostics;
  EXPECT_EQ(PackageLog(), "");
  const uint64_t held = CheckHeldBytes(SetupPath() + L".tmp", package);
  EXPECT_GT(held, size / 4);
  EXPECT_LT(held, size);

  // Room again (the file system grows, keeping its files).
  ASSERT_TRUE(server_.Control("mount?dir=" + folder + "&size=8m&remount=1"));
  const InstallerRunResult next = Run("fulldisk");
  const uint64_t second = BytesServed(server_.Log(PackagePath("fulldisk"))) - first;
  EXPECT_EQ(next.exitCode, 0u) << next.diagnostics;
  EXPECT_TRUE(Has(next.diagnostics, "InstallDriver end reason=0 ")) << next.diagnostics;
  EXPECT_TRUE(Has(PackageLog(), "command: "));
  EXPECT_LE(second, size - held + size / 20) << second << " after " << held << " held";
  EXPECT_EQ(ReadWholeFile(SetupPath()), package);
  EXPECT_FALSE(Exists(SetupPath() + L".tmp.resume"));
  EXPECT_TRUE(server_.Control("umount?dir=" + folder));
}

}  // namespace
