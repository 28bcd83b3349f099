// The real installer against the test server, the statistics collector and
// the signed demo package: a fresh install, a package already in place, a
// missing package, refused signatures, a declined elevation, a missing
// attachment and an install command that tries to run a second command.
#include "app/testing/package_fixture_win.h"

#include <shlobj.h>

namespace {

using PackageInstallerTest = PackageFixture;

// The "csgn" trace without its revocation answer: the demo leaves name no
// revocation list, and whether a system reports that as checked ("rvok") or
// unknown ("rvunk") is its own.
std::string WithoutRevocationAnswer(std::string trace) {
  for (const char* answer : {"/rvok", "/rvunk"}) {
    const std::size_t at = trace.find(answer);
    if (at != std::string::npos) trace.erase(at, std::string(answer).size());
  }
  return trace;
}


TEST_F(PackageInstallerTest, FreshInstallRunsThePackageAndTheNextRunKeepsIt) {
  Serve("fresh", "");
  const InstallerRunResult run = Run("fresh");
  ASSERT_EQ(run.exitCode, 0u) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=0")) << run.diagnostics;
  EXPECT_EQ(WithoutRevocationAnswer(ValueOf(run.FinalMap(), "csgn")), "csad/csb1/ecfh1/wvt/success")
      << run.FinalMap();
  EXPECT_TRUE(Has(ValueOf(run.FinalMap(), "dstp"), ";cks1")) << run.FinalMap();

  // The package got exactly the command built from the item and the choice.
  const std::string log = PackageLog();
  const std::string prefix = "command: -AutoStart /S ##handle=";
  ASSERT_TRUE(Has(log, prefix)) << log;
  const std::size_t handleAt = log.find(prefix) + prefix.size();
  const std::string handle = log.substr(handleAt, log.find(' ', handleAt) - handleAt);
  EXPECT_NE(std::stoul(handle), 0u) << log;
  std::string installerDir;
  for (wchar_t c : TestInstallerDirectory()) installerDir += static_cast<char>(c);
  EXPECT_TRUE(Has(log, prefix + handle + " -TnConfig=\"" + installerDir +
                           "\\Zbfresh_2.0.0.1\\tnconfig_Zbfresh.xml\"-INSTALLDIR=\"")) << log;
  EXPECT_TRUE(Has(log, "\\Vexlo\\ZetoraBrowser\" -DeskIconState=1 -FastIconState=1 -SetDefaultState=1\r\n"))
      << log;
  EXPECT_TRUE(Has(log, "progress 100 sent=1")) << log;
  EXPECT_TRUE(Has(log, "registered=1")) << log;
  EXPECT_TRUE(Exists(RegisteredInstallDir() + L"\\zetorabrowser.exe"));
  EXPECT_TRUE(Exists(SetupPath()));
  EXPECT_FALSE(Exists(SetupPath() + L".tmp"));
  EXPECT_EQ(ValueOf(run.FinalMap(), "rstp").compare(0, 6, "stp:0,"), 0) << run.FinalMap();

  // A second run, with the product's registration gone (so an installation
  // is due again), finds the package in place and trusted: nothing is
  // fetched.
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexlo\\ZetoraBrowser");
  const std::size_t fetched = server_.Log("/pkg/fresh.exe").size();
  const InstallerRunResult again = Run("fresh");
  ASSERT_EQ(again.exitCode, 0u) << again.diagnostics;
  EXPECT_EQ(ValueOf(again.FinalMap(), "dstp"), "uef;cks1") << again.FinalMap();
  EXPECT_EQ(WithoutRevocationAnswer(ValueOf(again.FinalMap(), "csgn")), "csbd/csb1/ecfh1/wvt/success")
      << again.FinalMap();
  EXPECT_EQ(server_.Log("/pkg/fresh.exe").size(), fetched);
}

// The first run is ended as soon as its resume record is on disk; the second
// run fetches only what the record lists as missing.
TEST_F(PackageInstallerTest, AKilledPackageDownloadContinuesInTheNextRun) {
  Serve("resume", "");
  const uint64_t size = SignedPackage("").size();
  ASSERT_GE(size, 524288u);  // the smallest download that keeps a resume record
  ASSERT_TRUE(server_.Rule("/pkg/resume.exe", "rate=4000"));
  HANDLE installer = StartInstaller(L"resume", L"/S");
  ASSERT_NE(installer, nullptr);
  const std::wstring record = SetupPath() + L".tmp.resume";
  WIN32_FILE_ATTRIBUTE_DATA attributes = {};
  for (int i = 0; i < 1200; ++i) {
    if (GetFileAttributesExW(record.c_str(), GetFileExInfoStandard, &attributes) &&
        attributes.nFileSizeLow >= 3132) {
      break;
    }
    Sleep(50);
  }
  TerminateProcess(installer, 1);
  WaitForSingleObject(installer, 10000);
  CloseHandle(installer);
  ASSERT_GE(attributes.nFileSizeLow, 3132u) << "no resume record within a minute";
  const uint64_t firstRun = BytesServed(server_.Log("/pkg/resume.exe"));
  ASSERT_LT(firstRun, size);

  ASSERT_TRUE(server_.Reset());
  ServeFiles("resume", "");
  const InstallerRunResult run = Run("resume");
  ASSERT_EQ(run.exitCode, 0u) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=0")) << run.diagnostics;
  EXPECT_TRUE(Has(ValueOf(run.FinalMap(), "dstp"), ";cks1")) << run.FinalMap();
  EXPECT_TRUE(Has(PackageLog(), "registered=1"));
  const std::vector<HttpdClient::LogLine> second = server_.Log("/pkg/resume.exe");
  for (const HttpdClient::LogLine& line : second) EXPECT_NE(line.range, "-") << run.diagnostics;
  EXPECT_FALSE(Exists(SetupPath() + L".tmp.resume"));
  // What the first run fetched after its last record is fetched again; the
  // record was read at once, so that is little.
  EXPECT_LE(firstRun + BytesServed(second), size + size / 10)
      << firstRun << " + " << BytesServed(second) << " of " << size;
}

TEST_F(PackageInstallerTest, RefusedPackagesAreNeverStartedNorKept) {
  struct Case {
    const char* variant;
    const char* tn;
  };
  const Case cases[] = {{"_unsigned", "unsigned"},     {"_othercompany", "othercompany"},
                        {"_lookalike", "lookalike"},   {"_selfsigned", "selfsigned"},
                        {"_altered", "altered"}};
  for (const Case& c : cases) {
    Serve(c.tn, c.variant);
    const InstallerRunResult run = Run(c.tn);
    ASSERT_EQ(run.exitCode, 6u) << c.tn << run.diagnostics;
    EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=6")) << c.tn << run.diagnostics;
    EXPECT_TRUE(Has(ValueOf(run.FinalMap(), "dstp"), ";cks0")) << c.tn;
    EXPECT_EQ(PackageLog(), "") << c.tn;
    EXPECT_FALSE(Exists(SetupPath())) << c.tn;
    EXPECT_FALSE(Exists(SetupPath() + L".tmp")) << c.tn;
    EXPECT_FALSE(Exists(SetupPath() + L".tmp.resume")) << c.tn;
  }
}

// The move onto the setup path fails twice (another program holds the file
// there without delete sharing): the verified download is used where it is
// and kept.
TEST_F(PackageInstallerTest, APackageThatCannotBeMovedIsUsedInPlace) {
  Serve("nomove", "");
  SHCreateDirectoryExW(nullptr, ItemFolder().c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(WinePath(Wide(std::string(ZETORA_SIGNED_DIR) + "/demo_package_unsigned.exe")).c_str(),
                        SetupPath().c_str(), FALSE));
  HANDLE holder = CreateFileW(SetupPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  const InstallerRunResult run = Run("nomove");
  CloseHandle(holder);
  ASSERT_EQ(run.exitCode, 0u) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "the package is used in place")) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=0")) << run.diagnostics;
  EXPECT_TRUE(Has(PackageLog(), "registered=1")) << PackageLog();
  EXPECT_TRUE(Exists(SetupPath() + L".tmp"));
  EXPECT_EQ(ReadWholeFile(SetupPath()), SignedPackage("_unsigned"));
}

// A package that does not end within the installer's wait keeps running;
// the installer records the time-out and ends.
TEST_F(PackageInstallerTest, AHungPackageDoesNotKeepTheInstallerRunning) {
  Serve("hung", "");
  SetEnvironmentVariableW(L"ZETORA_TEST_SETUP_WAIT_SECONDS", L"4");
  SetEnvironmentVariableW(L"ZETORA_DEMO_PACKAGE_HANG_SECONDS", L"15");
  const InstallerRunResult run = Run("hung", 60000);
  // The end reason is the exit code.
  ASSERT_EQ(run.exitCode, 7u) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=7")) << run.diagnostics;
  EXPECT_EQ(ValueOf(run.FinalMap(), "rstp").compare(0, 9, "stp:1460,"), 0) << run.FinalMap();
  EXPECT_TRUE(Has(PackageLog(), "hanging")) << PackageLog();
  EXPECT_FALSE(Has(PackageLog(), "exit 0")) << PackageLog();
  // The package ends on its own later.
  for (int i = 0; i < 300 && !Has(PackageLog(), "exit 0"); ++i) Sleep(100);
  EXPECT_TRUE(Has(PackageLog(), "exit 0")) << PackageLog();
}

// What a helper that tries to swap the held package managed.
struct SwapAttempt {
  std::wstring setup, marker, other;
  bool held = false, written = false, replaced = false, deleted = false;
};

DWORD WINAPI TrySwap(void* parameter) {
  SwapAttempt& a = *static_cast<SwapAttempt*>(parameter);
  for (int i = 0; i < 1200 && !a.held; ++i) {
    a.held = GetFileAttributesW(a.marker.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!a.held) Sleep(50);
  }
  if (!a.held) return 1;
  HANDLE writer = CreateFileW(a.setup.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  a.written = writer != INVALID_HANDLE_VALUE;
  if (a.written) CloseHandle(writer);
  a.replaced = MoveFileExW(a.other.c_str(), a.setup.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  a.deleted = DeleteFileW(a.setup.c_str()) != 0;
  return 0;
}

// Between the check and the launch (a test build pauses there) another
// program can neither write, replace nor delete the package; the verified
// package is what runs.
TEST_F(PackageInstallerTest, TheVerifiedPackageCannotBeSwappedBeforeItsLaunch) {
  Serve("swap", "");
  SetEnvironmentVariableW(L"ZETORA_TEST_LAUNCH_PAUSE_MS", L"3000");
  SwapAttempt attempt{SetupPath(), SetupPath() + L".held", TempFileName(L"zsw")};
  ASSERT_TRUE(CopyFileW(WinePath(Wide(std::string(ZETORA_SIGNED_DIR) + "/demo_package_othercompany.exe")).c_str(),
                        attempt.other.c_str(), FALSE));
  HANDLE helper = CreateThread(nullptr, 0, TrySwap, &attempt, 0, nullptr);
  const InstallerRunResult run = Run("swap");
  WaitForSingleObject(helper, 70000);
  CloseHandle(helper);
  DeleteFileW(attempt.other.c_str());
  ASSERT_EQ(run.exitCode, 0u) << run.diagnostics;
  EXPECT_TRUE(attempt.held) << run.diagnostics;
  EXPECT_FALSE(attempt.written);
  EXPECT_FALSE(attempt.replaced);
  EXPECT_FALSE(attempt.deleted);
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=0")) << run.diagnostics;
  EXPECT_TRUE(Has(PackageLog(), "registered=1")) << PackageLog();
  EXPECT_EQ(ReadWholeFile(SetupPath()), SignedPackage(""));
}

// Each failure ends the process with its end reason as the exit code.
TEST_F(PackageInstallerTest, MissingPackageDeclinedElevationAndAPackageThatCannotStart) {
  Serve("nopkg", nullptr);
  ASSERT_TRUE(server_.Rule("/pkg/nopkg.exe", "status=404"));
  InstallerRunResult run = Run("nopkg");
  ASSERT_EQ(run.exitCode, 5u) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=5")) << run.diagnostics;
  EXPECT_EQ(ValueOf(run.EndLine(), "Result"), "6") << run.EndLine();

  Serve("declined", "");
  SetEnvironmentVariableW(L"ZETORA_TEST_LAUNCH_ERROR", L"1223");
  run = Run("declined");
  ASSERT_EQ(run.exitCode, 8u) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=8 cancel=1")) << run.diagnostics;
  EXPECT_EQ(ValueOf(run.FinalMap(), "rstp").compare(0, 9, "stp:1223,"), 0) << run.FinalMap();
  EXPECT_EQ(PackageLog(), "");

  Serve("unstartable", "");
  SetEnvironmentVariableW(L"ZETORA_TEST_LAUNCH_ERROR", L"2");
  run = Run("unstartable");
  ASSERT_EQ(run.exitCode, 7u) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=7 cancel=0")) << run.diagnostics;
  EXPECT_EQ(PackageLog(), "");
}

TEST_F(PackageInstallerTest, MissingAttachmentStillInstallsWithoutIt) {
  Serve("noatt", "");
  ASSERT_TRUE(server_.Rule("/att/noatt.xml", "status=404"));
  const InstallerRunResult run = Run("noatt");
  ASSERT_EQ(run.exitCode, 0u) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=0")) << run.diagnostics;
  const std::string log = PackageLog();
  EXPECT_TRUE(Has(log, "command: -AutoStart /S ##handle=")) << log;
  EXPECT_FALSE(Has(log, "TnConfig")) << log;
  EXPECT_TRUE(Has(log, "  -INSTALLDIR=\"")) << log;
}

TEST_F(PackageInstallerTest, InstallCommandCannotRunASecondCommand) {
  const std::wstring planted = TempFileName(L"zinj");
  DeleteFileW(planted.c_str());
  std::string target;
  for (wchar_t c : planted) target += static_cast<char>(c);
  Serve("inject", "", "-AutoStart /S &amp; echo x&gt; " + target);
  const InstallerRunResult run = Run("inject");
  ASSERT_EQ(run.exitCode, 0u) << run.diagnostics;
  EXPECT_TRUE(Has(PackageLog(), "& echo x> " + target)) << PackageLog();
  Sleep(500);
  EXPECT_FALSE(Exists(planted));
}

}  // namespace
