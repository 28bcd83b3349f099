// The driver against scripted steps and a scripted user interface: each test
// checks the exact order of notices, phase records, running reports and the
// end reason.
#include "app/install_driver.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "app/driver_messages.h"

namespace {

using Log = std::vector<std::string>;

class LogRecorder : public RunRecorder {
 public:
  explicit LogRecorder(Log* log) : log_(log) {}
  void Stamp(int stat, int result, int ext) override {
    result_ = result;
    ext_ = ext;
    log_->push_back("phase " + std::to_string(stat) + "," + std::to_string(result) + "," +
                    std::to_string(ext));
  }
  int LastResult() const override { return result_; }
  int LastExtReason() const override { return ext_; }
  void ReportRunning() override { log_->push_back("running"); }
  void QueueRunningTrace() override { log_->push_back("p_trc"); }
  void SetConfigVersion(const std::wstring& v) override { cfgver = v; }
  void SetSetupVersion(const std::wstring& v) override { stpver = v; }
  void QueueStartRecord() override { log_->push_back("start record"); }
  void EndReport() override { log_->push_back("end report"); }
  void QueueEndRecord() override { log_->push_back("end record"); }
  void QueueTrace(const std::wstring&, const std::wstring&) override {}
  void FlushNow() override { log_->push_back("flush"); }
  void StopUploader() override { log_->push_back("stop uploader"); }

  std::wstring cfgver, stpver;

 private:
  Log* log_;
  int result_ = 0, ext_ = 0;
};

// A UI that answers each wait from a script and can cancel on a given notice.
class ScriptedUi : public DriverUi {
 public:
  explicit ScriptedUi(Log* log) : log_(log) {}
  void Post(unsigned message, std::uintptr_t w, std::intptr_t l) override {
    std::string name = message == kMsgPhaseNotice ? "phase notice"
                       : message == kMsgEndNotice ? "end notice"
                       : message == kMsgModeNotice ? "mode notice"
                       : message == kMsgGoRequest ? "go request"
                                                  : "message";
    std::string text = message == kMsgGoRequest ? name : name + " " + std::to_string(w);
    if (message == kMsgEndNotice) text += " " + std::to_string(l);
    log_->push_back(text);
  }
  int WaitUserCommand() override {
    int command = kUserCommandInstall;
    if (!commands.empty()) {
      command = commands.front();
      commands.pop_front();
    }
    if (command == kUserCommandCancel) cancelled = true;
    return command;
  }
  bool IsCancelRequested() override { return cancelled; }
  void WaitForUiEnd() override { log_->push_back("wait ui"); }

  std::deque<int> commands;
  bool cancelled = false;

 private:
  Log* log_;
};

// Steps recording the phases their real counterparts record.
class ScriptedSteps : public InstallSteps {
 public:
  ScriptedSteps(RunRecorder& r, ScriptedUi& ui) : r_(r), ui_(ui) {}

  bool DownloadConfiguration() override {
    RecordPhase(r_, 2, 0, 0);
    if (configError == 0) {
      RecordPhase(r_, 3, 1, 0);
      return true;
    }
    RecordPhase(r_, 3, 2, configError);
    return false;
  }
  bool ParseConfiguration() override {
    RecordPhase(r_, 4, 0, 0);
    if (configItems) {
      version = L"2.0.0.1";
      RecordPhase(r_, 5, 1, 0);
      return true;
    }
    RecordPhase(r_, 5, 3, 1);
    return false;
  }
  void BuildFallbackItem() override {
    RecordPhase(r_, 6, 0, 0);
    RecordPhase(r_, 7, 1, 0);
  }
  std::wstring FirstItemVersion() override { return version; }
  int ClassifyInstall(const std::wstring&) override {
    RecordPhase(r_, 8, 0, 0);
    return mode;
  }
  bool ApplyMode(int m) override {
    if (m == 0) {
      RecordPhase(r_, 9, 1, 0);
      return true;
    }
    RecordPhase(r_, 9, 4, m);
    return m != 1 && m != 3;
  }
  bool DownloadAttachment() override {
    RecordPhase(r_, 10, 0, 0);
    RecordPhase(r_, 11, 1, 0);
    return true;
  }
  void MakeSetupPath() override {}
  int DownloadSetup() override {
    RecordPhase(r_, 12, 0, 0);
    if (cancelDuringSetupDownload) {
      ui_.cancelled = true;  // the UI cancels; the download ends with 1223
      RecordPhase(r_, 13, 6, 1223);
      return 1;
    }
    if (setupResult == 0) RecordPhase(r_, 13, 1, 0);
    if (setupResult == 1) RecordPhase(r_, 13, 6, 12029);
    if (setupResult == 2) RecordPhase(r_, 13, 7, 1);
    ++setupDownloads;
    return setupResult;
  }
  std::wstring ReadSetupVersion() override { return L"2.0.0.1"; }
  bool LaunchSetup(bool attachment) override {
    launchedWithAttachment = attachment;
    RecordPhase(r_, 16, 0, 0);
    if (launchOk) {
      RecordPhase(r_, 17, 1, 0);
      installedAfter = true;
      return true;
    }
    RecordPhase(r_, 17, 8, 2);
    return false;
  }
  bool IsProductInstalled() override { return installedAfter; }

  int configError = 0;
  bool configItems = true;
  std::wstring version;
  int mode = 0;
  int setupResult = 0;
  bool cancelDuringSetupDownload = false;
  bool launchOk = true;
  bool installedAfter = false;
  bool launchedWithAttachment = false;
  int setupDownloads = 0;

 private:
  RunRecorder& r_;
  ScriptedUi& ui_;
};

struct Harness {
  Log log;
  LogRecorder recorder{&log};
  ScriptedUi ui{&log};
  ScriptedSteps steps{recorder, ui};
  int Run() { return InstallDriver(steps, ui, recorder).Run(); }
};

Log EndSequence(const std::string& phase999, int reason, int cancel) {
  return {"phase " + phase999, "end report",
          "end notice " + std::to_string(reason) + " " + std::to_string(cancel),
          "end record", "flush", "wait ui", "stop uploader"};
}

Log Concat(Log a, const Log& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(InstallDriver, FirstInstallationWithoutIncident) {
  Harness h;
  EXPECT_EQ(h.Run(), kEndCompleted);
  const Log expected = Concat(
      {"start record",
       "phase notice 1",
       "phase notice 2", "phase 2,0,0", "running", "phase 3,1,0", "running",
       "phase notice 3", "phase 4,0,0", "running", "phase 5,1,0", "running",
       "phase notice 4", "phase 8,0,0", "running", "mode notice 0", "phase 9,1,0", "running",
       "phase notice 5", "phase 10,0,0", "running", "phase 11,1,0", "running",
       "phase notice 6", "phase 12,0,0", "running", "phase 13,1,0", "running",
       "phase notice 7", "go request", "phase 8,0,0", "running", "phase 9,1,0", "running",
       "phase 16,0,0", "running", "phase 17,1,0", "running", "phase 19,1,0", "p_trc",
       "phase notice 8"},
      EndSequence("999,1,0", 0, 0));
  EXPECT_EQ(h.log, expected);
  EXPECT_EQ(h.recorder.cfgver, L"2.0.0.1");
  EXPECT_EQ(h.recorder.stpver, L"2.0.0.1");
  EXPECT_TRUE(h.steps.launchedWithAttachment);
}

TEST(InstallDriver, ConfigurationServerUnreachableUsesFallback) {
  Harness h;
  h.steps.configError = 12029;
  h.steps.mode = 5;  // the fallback item has no version
  EXPECT_EQ(h.Run(), kEndCompleted);
  const Log head = {"start record", "phase notice 1", "phase notice 2", "phase 2,0,0", "running",
                    "phase 3,2,12029", "running", "phase notice 3", "phase 6,0,0", "running",
                    "phase 7,1,0", "running", "phase notice 4", "phase 8,0,0", "running",
                    "mode notice 5", "phase 9,4,5", "running", "phase notice 5"};
  ASSERT_GE(h.log.size(), head.size());
  EXPECT_EQ(Log(h.log.begin(), h.log.begin() + head.size()), head);
  EXPECT_EQ(h.recorder.cfgver, L"");
}

TEST(InstallDriver, ConfigurationWithoutItemEndsWithReason2) {
  Harness h;
  h.steps.configItems = false;
  EXPECT_EQ(h.Run(), kEndNoConfigItem);
  const Log expected = Concat({"start record", "phase notice 1", "phase notice 2", "phase 2,0,0",
                               "running", "phase 3,1,0", "running", "phase notice 3",
                               "phase 4,0,0", "running", "phase 5,3,1", "running"},
                              EndSequence("999,3,1", 2, 0));
  EXPECT_EQ(h.log, expected);
}

TEST(InstallDriver, UserClosesAtModeNotice) {
  Harness h;
  h.ui.commands = {kUserCommandCancel};
  EXPECT_EQ(h.Run(), kEndCancelled);
  const Log tail = Concat({"mode notice 0", "phase 18,9,1", "running"},
                          EndSequence("999,9,1", 8, 1));
  ASSERT_GE(h.log.size(), tail.size());
  EXPECT_EQ(Log(h.log.end() - tail.size(), h.log.end()), tail);
}

TEST(InstallDriver, WaitFailureOrTimeoutCountsAsCancelWithoutFlag) {
  for (int command : {kUserCommandWaitFailed, kUserCommandTimeout}) {
    Harness h;
    h.ui.commands = {command};
    EXPECT_EQ(h.Run(), kEndCancelled);
    const Log tail = Concat({"mode notice 0", "phase 18,9,1", "running"},
                            EndSequence("999,9,1", 8, 0));
    EXPECT_EQ(Log(h.log.end() - tail.size(), h.log.end()), tail) << command;
  }
}

TEST(InstallDriver, NewestVersionInstalledEndsWithReason3WithoutDownload) {
  for (int mode : {1, 3}) {
    Harness h;
    h.steps.mode = mode;
    EXPECT_EQ(h.Run(), kEndUpToDate);
    EXPECT_EQ(h.steps.setupDownloads, 0);
    const Log tail = Concat({"mode notice " + std::to_string(mode),
                             "phase 9,4," + std::to_string(mode), "running"},
                            EndSequence("999,4," + std::to_string(mode), 3, 0));
    EXPECT_EQ(Log(h.log.end() - tail.size(), h.log.end()), tail);
  }
}

TEST(InstallDriver, CancelWhileThePackageDownloadsEndsWithReason8) {
  Harness h;
  h.steps.cancelDuringSetupDownload = true;
  EXPECT_EQ(h.Run(), kEndCancelled);
  const Log tail = Concat({"phase notice 6", "phase 12,0,0", "running", "phase 13,6,1223", "running"},
                          EndSequence("999,6,1223", 8, 1));
  EXPECT_EQ(Log(h.log.end() - tail.size(), h.log.end()), tail);
}

TEST(InstallDriver, SetupFailuresGiveTheirReasonsAndNoStateEightNotice) {
  struct Case {
    int setupResult;
    bool launchOk;
    int reason;
  } cases[] = {{1, true, kEndSetupDownloadFailed},
               {2, true, kEndSetupNotTrusted},
               {0, false, kEndSetupLaunchFailed}};
  for (const Case& c : cases) {
    Harness h;
    h.steps.setupResult = c.setupResult;
    h.steps.launchOk = c.launchOk;
    EXPECT_EQ(h.Run(), c.reason);
    for (const std::string& line : h.log) EXPECT_NE(line, "phase notice 8") << c.reason;
  }
  // A launch failure still records the installed check.
  Harness h;
  h.steps.launchOk = false;
  h.Run();
  const Log tail = Concat({"phase 17,8,2", "running", "phase 19,12,1", "p_trc"},
                          EndSequence("999,12,1", 7, 0));
  EXPECT_EQ(Log(h.log.end() - tail.size(), h.log.end()), tail);
}

TEST(InstallDriver, GoRequestRefused) {
  Harness h;
  h.ui.commands = {kUserCommandInstall, kUserCommandCancel};
  EXPECT_EQ(h.Run(), kEndCancelled);
  const Log tail = Concat({"phase notice 7", "go request", "phase 18,9,1", "running"},
                          EndSequence("999,9,1", 8, 1));
  EXPECT_EQ(Log(h.log.end() - tail.size(), h.log.end()), tail);
}

TEST(InstallDriver, CancelBeforeTheFirstState) {
  Harness h;
  h.ui.cancelled = true;
  EXPECT_EQ(h.Run(), kEndCancelled);
  // The end is stamped and reported once.
  const Log expected = Concat({"start record"}, EndSequence("999,11,1", 8, 1));
  EXPECT_EQ(h.log, expected);
}

TEST(InstallDriver, SilentRunNeedsNoInput) {
  // The silent UI confirms both waits itself: the scripted UI answers
  // "install" to every wait, and the run goes through state 8.
  Harness h;
  EXPECT_EQ(h.Run(), kEndCompleted);
  int waits = 0;
  for (const std::string& line : h.log) waits += (line == "mode notice 0" || line == "go request");
  EXPECT_EQ(waits, 2);
}

}  // namespace
