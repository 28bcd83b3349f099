#pragma once

// A test fixture that runs the real installer silently against the test
// server (configuration, signed demo package, attachment) and the
// statistics collector, and inspects what the run left: the package's log,
// the product's registration, the files of the item's folder.
// Needs ZETORA_SIGNED_DIR and ZETORA_TEST_CA_CERT defined by the test.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/channel_config.h"
#include "app/testing/installer_harness_win.h"
#include "build_config.h"
#include "net/testing/httpd_client_win.h"
#include "sys/testing/test_files_win.h"
#include "sys/testing/trusted_root_win.h"

inline const DWORD kRunLimitMs = 120000;
// "@" stands for the item's name.
inline const char kDefaultCommand[] = "-AutoStart /S -TnConfig=&quot;tnconfig_@.xml&quot;";
inline const std::string kServer = "http://127.0.0.1:" + std::to_string(build_config::kConfigPort);

inline std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

inline std::string SignedPackage(const char* variant) {
  return ReadWholeFile(WinePath(Wide(std::string(ZETORA_SIGNED_DIR) + "/demo_package" + variant +
                                     ".exe")));
}

inline bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::wstring RegisteredInstallDir() {
  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof(value);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexlo\\ZetoraBrowser", L"installDir",
                   RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) {
    return L"";
  }
  return value;
}

class PackageFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(TrustRootCertificate(WinePath(L"" ZETORA_TEST_CA_CERT)));
    packageLog_ = new std::wstring(TempFileName(L"zpk"));
    SetEnvironmentVariableW(L"ZETORA_DEMO_PACKAGE_LOG", packageLog_->c_str());
  }
  void SetUp() override {
    ASSERT_TRUE(server_.ok());
    ASSERT_TRUE(server_.Reset());
    ASSERT_TRUE(ResetStatisticsServer());
    DeleteFileW(packageLog_->c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexlo\\ZetoraBrowser");
  }
  // The statistics server answers every report with 200 again.
  virtual bool ResetStatisticsServer() { return collector_.Control("status=200"); }
  // Later installer runs in this prefix must not find the product installed.
  void TearDown() override {
    for (const wchar_t* name : {L"ZETORA_TEST_LAUNCH_ERROR", L"ZETORA_TEST_CONFIG_SECONDS",
                                L"ZETORA_TEST_SETUP_SECONDS", L"ZETORA_TEST_ATTACHMENT_SECONDS",
                                L"ZETORA_TEST_SETUP_WAIT_SECONDS", L"ZETORA_DEMO_PACKAGE_HANG_SECONDS",
                                L"ZETORA_TEST_LAUNCH_PAUSE_MS"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vexlo\\ZetoraBrowser");
  }

  // Serves channel tn's configuration (item "Zb<tn>", version 2.0.0.1), the
  // package variant and the attachment; clears what earlier runs left.
  void Serve(const std::string& tn, const char* variant,
             const std::string& installcmd = kDefaultCommand) {
    ServeFiles(tn, variant, installcmd);
    for (const wchar_t* suffix : {L"", L".tmp", L".tmp.resume"}) {
      DeleteFileW((SetupPath() + suffix).c_str());
    }
  }
  void ServeFiles(const std::string& tn, const char* variant,
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
    if (variant != nullptr) {
      ASSERT_TRUE(server_.ServeBytes("/pkg/" + tn + ".exe", SignedPackage(variant)));
    }
    ASSERT_TRUE(server_.ServeBytes("/att/" + tn + ".xml", "<tnconfig/>"));
  }
  std::wstring ItemFolder() const {
    return TestInstallerDirectory() + L"\\" + Wide(name_) + L"_2.0.0.1";
  }
  std::wstring SetupPath() const {
    return ItemFolder() + L"\\vexlobrowser_setup" + Wide(name_) + L"_2.0.0.1.exe";
  }
  InstallerRunResult Run(const std::string& tn, DWORD limitMs = kRunLimitMs) {
    return RunInstallerTagged(collector_, Wide(tn), L"/S", limitMs);
  }
  static std::string PackageLog() { return ReadWholeFile(*packageLog_); }

  HttpdClient server_;
  CollectorClient collector_;
  std::string name_;
  static inline std::wstring* packageLog_ = nullptr;
};

inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline uint64_t BytesServed(const std::vector<HttpdClient::LogLine>& log) {
  uint64_t total = 0;
  for (const HttpdClient::LogLine& line : log) total += line.bodyBytes;
  return total;
}
