#include "report_builder.h"

#include <vector>

namespace zstats {

std::string ReportBody(const RunIdentity& r, const std::string& line) {
  return "Op=Functionwebinst Type=vxdowninstall2 Version=" + r.version + " Sid=" + r.sid + " From=" + r.channel +
         " Mode=Clickonce PcCode=PC" + r.sid.substr(0, 8) + " Uinf=536870912-3 Time=" + r.time + " Rnd= Osv=" +
         std::to_string(r.os_code) + " Osvi=" + std::to_string(r.os_build) + " " + line + "\r\n";
}

std::string ReportForm(const std::string& body) {
  const std::string delimiter = std::string("--") + kFormBoundary + "\r\n";
  auto field = [&](const char* name, const std::string& value, const char* end) {
    return delimiter + "Content-Disposition: form-data; name=\"" + name + "\";\r\n\r\n" + value + end;
  };
  return field("product_name", "browser", "\r\n") + field("product_version", "1.0", "\r\n") +
         field("statistics_type", "Functionwebinst", "\r\n") + field("security_level", "4", "\r\n") +
         field("raw_file_size", std::to_string(body.size()), "\n") + delimiter +
         "Content-Disposition: form-data; name=\"userfile\"; filename=\"data.dat\";\r\n"
         "Content-Type: application/x-gzip\r\n\r\n" +
         body + "\r\n--" + kFormBoundary + "--\r\n";
}

std::string StartLine() { return "src=Start t_diff=0 "; }

namespace {
// The steps a run records up to each funnel stage, and the end record's
// result when it stops there.
struct StageRun {
  std::vector<int> steps;
  int end_result;
  int end_ext;
};
StageRun StageSteps(int stage) {
  static const std::vector<int> kAll = {2, 3, 4, 5, 8, 9, 10, 11, 12, 13, 8, 9, 16, 17, 19};
  static const size_t kCut[] = {2, 4, 5, 6, 8, 10, 10, 12, 14, 15};  // steps recorded per stage
  static const int kResult[] = {2, 3, 9, 9, 5, 7, 9, 9, 12, 1};
  if (stage < 0) stage = 0;
  if (stage > 9) stage = 9;
  StageRun run{std::vector<int>(kAll.begin(), kAll.begin() + static_cast<long>(kCut[stage])), kResult[stage], 1};
  if (stage == 9) run.end_ext = 0;
  return run;
}
}  // namespace

std::string EndLine(int stage) {
  StageRun run = StageSteps(stage);
  return "src=End t_diff=" + std::to_string(1000 * run.steps.size()) + " Stat=999 Result=" + std::to_string(run.end_result) +
         " ExtReason=" + std::to_string(run.end_ext) + " t_dlc=120 t_dlsxml=40 t_dls=3000 t_ins=5000 Cfgver=1.2.3.4 Stpver=2.0.0.1 ";
}

std::string TraceLine(int stage, int64_t package_bytes, int64_t package_ms, int sends_so_far) {
  StageRun run = StageSteps(stage);
  std::string p_trc;
  for (size_t i = 0; i < run.steps.size(); ++i) p_trc += (i ? "/" : "") + std::to_string(run.steps[i]) + ":" + std::to_string(1000 * i);
  if (sends_so_far > 0) p_trc += "/999:" + std::to_string(1000 * run.steps.size());
  std::string line = "cenv=ibbe/ibbar ";
  if (stage >= 5)
    line += std::string("csgn=csad/csb1/ecfh1/") + (stage >= 6 ? "wvt/success " : "ecrcc ") + "dstp=0:ds0:0,0;0:sts;1:cofm0:" +
            std::to_string(package_bytes) + ";1:dse0:0," + std::to_string(package_ms) + ";" + (stage >= 6 ? ";cks1 " : ";cks0 ");
  line += "p_trc=" + p_trc + " pcfg=g_n/g_v/g_u" + (stage == 0 ? "/e_dl " : " ");
  if (stage == 8) line += "rstp=stp:1223,10,20,0 ";
  std::string sthp;
  for (int i = 0; i < sends_so_far; ++i) sthp += (i ? "/" : "") + std::string("6:0:200:0:") + std::to_string(i + 1);
  if (!sthp.empty()) line += "sthp=" + sthp + " ";
  return line + "trsui=buisred/ass/imd ";
}

}  // namespace zstats
