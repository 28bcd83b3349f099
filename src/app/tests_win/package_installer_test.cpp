// The real installer against the test server, the statistics collector and
// the signed demo package: a fresh install, a package already in place, a
// missing package, refused signatures, a declined elevation, a missing
// attachment and an install command that tries to run a second command.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/channel_config.h"
#include "app/testing/installer_harness_win.h"
#include "build_config.h"
#include "net/testing/httpd_client_win.h"
#include "sys/testing/test_files_win.h"
#include "sys/testing/trusted_root_win.h"

namespace {

const DWORD kRunLimitMs = 120000;
// "@" stands for the item's name.
const char kDefaultCommand[] = "-AutoStart /S -TnConfig=&quot;tnconfig_@.xml&quot;";
const std::string kServer = "http://127.0.0.1:" + std::to_string(build_config::kConfigPort);

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string SignedPackage(const char* variant) {
  return ReadWholeFile(WinePath(Wide(std::string(ZETORA_SIGNED_DIR) + "/demo_package" + variant +
                                     ".exe")));
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring RegisteredInstallDir() {
  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof(value);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexlo\\ZetoraBrowser", L"installDir",
                   RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
    return L"";
  }
  return value;
}

class PackageInstallerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(TrustRootCertificate(WinePath(L"" ZETORA_TEST_CA_CERT)));
    packageLog_ = new std::wstring(TempFileName(L"zpk"));
    SetEnvironmentVariableW(L"ZETORA_DEMO_PACKAGE_LOG", packageLog_->c_str());
  }
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    ASSERT_TRUE(server_.Reset());
    ASSERT_TRUE(collector_.Control("status=200"));
    DeleteFileW(packageLog_->c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexlo\\ZetoraBrowser");
  }
  // Later installer runs in this prefix must not find the product installed.
  void TearDown() override {
    SetEnvironmentVariableW(L"ZETORA_TEST_LAUNCH_ERROR", nullptr);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexlo\\ZetoraBrowser");
  }

  // Serves channel tn's configuration (item "Zb<tn>", version 2.0.0.1), the
  // package variant and the attachment; clears what earlier runs left.
  void Serve(const std::string& tn, const char* variant,
             const std::string& installcmd = kDefaultCommand) {
    name_ = "Zb" + tn;
    std::string command = installcmd;
    command.replace(command.find('@') == std::string::npos ? command.size() : command.find('@'),
                    command.find('@') == std::string::npos ? 0 : 1, name_);
    std::string document = "<downloadlist><item name=\"" + name_ +
                           "\" version=\"2.0.0.1\" url=\"" + kServer + "/pkg/" + tn +
                           ".exe\" attachment=\"" + kServer + "/att/" + tn +
                           ".xml\" installcmd=\"" + command + "\"/></downloadlist>";
    EncryptConfigBlocks(MakeConfigKey(build_config::kConfigKeyText), &document);
    ASSERT_TRUE(server_.ServeBytes("/oi/config/config_" + tn + ".xml", document));
    if (variant != nullptr) ASSERT_TRUE(server_.ServeBytes("/pkg/" + tn + ".exe", SignedPackage(variant)));
    ASSERT_TRUE(server_.ServeBytes("/att/" + tn + ".xml", "<tnconfig/>"));
    const std::wstring folder = ItemFolder();
    DeleteFileW((folder + L"\\vexlobrowser_setup" + Wide(name_) + L"_2.0.0.1.exe").c_str());
    DeleteFileW((folder + L"\\vexlobrowser_setup" + Wide(name_) + L"_2.0.0.1.exe.tmp").c_str());
    DeleteFileW((folder + L"\\vexlobrowser_setup" + Wide(name_) + L"_2.0.0.1.exe.tmp.resume").c_str());
  }
  std::wstring ItemFolder() const {
    return TestInstallerDirectory() + L"\\" + Wide(name_) + L"_2.0.0.1";
  }
  std::wstring SetupPath() const {
    return ItemFolder() + L"\\vexlobrowser_setup" + Wide(name_) + L"_2.0.0.1.exe";
  }
  InstallerRunResult Run(const std::string& tn) {
    return RunInstallerTagged(collector_, Wide(tn), L"/S", kRunLimitMs);
  }
  static std::string PackageLog() { return ReadWholeFile(*packageLog_); }

  HttpdClient server_;
  CollectorClient collector_;
  std::string name_;
  static std::wstring* packageLog_;
};
std::wstring* PackageInstallerTest::packageLog_ = nullptr;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(PackageInstallerTest, FreshInstallRunsThePackageAndTheNextRunKeepsIt) {
  Serve("fresh", "");
  const InstallerRunResult run = Run("fresh");
  ASSERT_EQ(run.exitCode, 0u) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=0")) << run.diagnostics;
  EXPECT_EQ(ValueOf(run.FinalMap(), "csgn"), "csad/csb1/ecfh1/wvt/success") << run.FinalMap();
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
  EXPECT_TRUE(Has(log, "\\Zetora\\Browser\" -DeskIconState=1 -FastIconState=1 -SetDefaultState=1\r\n"))
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
  EXPECT_EQ(ValueOf(again.FinalMap(), "csgn"), "csbd/csb1/ecfh1/wvt/success") << again.FinalMap();
  EXPECT_EQ(server_.Log("/pkg/fresh.exe").size(), fetched);
}

TEST_F(PackageInstallerTest, RefusedPackagesAreNeverStartedNorKept) {
  struct Case {
    const char* variant;
    const char* tn;
  };
  const Case cases[] = {{"_unsigned", "unsigned"}, {"_othercompany", "othercompany"},
                        {"_selfsigned", "selfsigned"}, {"_altered", "altered"}};
  for (const Case& c : cases) {
    Serve(c.tn, c.variant);
    const InstallerRunResult run = Run(c.tn);
    ASSERT_EQ(run.exitCode, 0u) << c.tn << run.diagnostics;
    EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=6")) << c.tn << run.diagnostics;
    EXPECT_TRUE(Has(ValueOf(run.FinalMap(), "dstp"), ";cks0")) << c.tn;
    EXPECT_EQ(PackageLog(), "") << c.tn;
    EXPECT_FALSE(Exists(SetupPath())) << c.tn;
    EXPECT_FALSE(Exists(SetupPath() + L".tmp")) << c.tn;
    EXPECT_FALSE(Exists(SetupPath() + L".tmp.resume")) << c.tn;
  }
}

TEST_F(PackageInstallerTest, MissingPackageAndDeclinedElevation) {
  Serve("nopkg", nullptr);
  ASSERT_TRUE(server_.Rule("/pkg/nopkg.exe", "status=404"));
  InstallerRunResult run = Run("nopkg");
  ASSERT_EQ(run.exitCode, 0u) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=5")) << run.diagnostics;
  EXPECT_EQ(ValueOf(run.EndLine(), "Result"), "6") << run.EndLine();

  Serve("declined", "");
  SetEnvironmentVariableW(L"ZETORA_TEST_LAUNCH_ERROR", L"1223");
  run = Run("declined");
  ASSERT_EQ(run.exitCode, 0u) << run.diagnostics;
  EXPECT_TRUE(Has(run.diagnostics, "InstallDriver end reason=8 cancel=1")) << run.diagnostics;
  EXPECT_EQ(ValueOf(run.FinalMap(), "rstp").compare(0, 9, "stp:1223,"), 0) << run.FinalMap();
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
