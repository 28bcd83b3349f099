#include "dashboard.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>

namespace zstats {
namespace {

const char* const kStyle = R"CSS(
body{font-family:sans-serif;margin:24px;color:#222;background:#fafafa}
h1{font-size:22px;margin:0 0 12px}h2{font-size:16px;margin:22px 0 8px}
section{background:#fff;border:1px solid #ddd;border-radius:6px;padding:12px 16px;margin-bottom:14px}
table{border-collapse:collapse;font-size:13px}td,th{padding:3px 10px;border-bottom:1px solid #eee;text-align:left}
td.n{text-align:right;font-variant-numeric:tabular-nums}.kpi{display:inline-block;margin-right:36px}
.kpi b{display:block;font-size:26px}form.filter input,form.filter select{margin-right:10px}
svg text{font-size:12px;fill:#333}code{font-size:12px;word-break:break-all}
form.filter select{max-width:18em}section{overflow-x:auto}td.empty{color:#777;font-style:italic}
)CSS";

// Labels longer than this are cut (a chart label must end before its bar);
// the whole text is in the tooltip.
constexpr size_t kChartLabelBytes = 30;
constexpr size_t kChannelOptionBytes = 40;

std::string Percent(int64_t part, int64_t whole) {
  if (whole <= 0) return "-";
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%.1f%%", 100.0 * static_cast<double>(part) / static_cast<double>(whole));
  return buffer;
}

std::string Num(double v, int decimals = 1) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%.*f", decimals, v);
  return buffer;
}

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + HtmlEscape(title) + "</title><style>" + kStyle +
         "</style></head><body>" + body + "</body></html>";
}

// A horizontal bar chart: one row per item, the bar's length is value/max.
struct Bar {
  std::string label;
  double value;
  std::string text;  // shown after the bar
};

// At most `max` bytes of UTF-8 text, cut before a whole character.
std::string CutText(const std::string& s, size_t max) {
  if (s.size() <= max) return s;
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n) + "...";
}

std::string BarChart(const std::string& id, const std::vector<Bar>& bars, double max_value) {
  const int kLabelWidth = 210, kBarWidth = 420, kRow = 22, kWidth = kLabelWidth + kBarWidth + 230;
  int height = std::max<int>(1, static_cast<int>(bars.size())) * kRow + 6;
  std::string svg = "<svg id=\"" + id + "\" class=\"chart\" width=\"" + std::to_string(kWidth) + "\" height=\"" +
                    std::to_string(height) + "\" role=\"img\">";
  int y = 4;
  for (const Bar& b : bars) {
    double w = max_value > 0 ? kBarWidth * b.value / max_value : 0;
    svg += "<text x=\"0\" y=\"" + std::to_string(y + 14) + "\"><title>" + HtmlEscape(b.label) + "</title>" +
           HtmlEscape(CutText(b.label, kChartLabelBytes)) + "</text>";
    svg += "<rect x=\"" + std::to_string(kLabelWidth) + "\" y=\"" + std::to_string(y + 2) + "\" width=\"" + Num(w) +
           "\" height=\"16\" fill=\"#4a7fc1\"/>";
    svg += "<text x=\"" + Num(kLabelWidth + w + 6) + "\" y=\"" + std::to_string(y + 14) + "\">" + HtmlEscape(b.text) + "</text>";
    y += kRow;
  }
  return svg + "</svg>";
}

std::string RateBars(const std::string& id, const std::vector<GroupCount>& groups, size_t limit,
                     const std::string& empty_label) {
  std::vector<Bar> bars;
  for (size_t i = 0; i < groups.size() && i < limit; ++i) {
    const GroupCount& g = groups[i];
    double rate = g.runs ? static_cast<double>(g.installed) / static_cast<double>(g.runs) : 0;
    bars.push_back({g.key.empty() ? empty_label : g.key, rate,
                    Percent(g.installed, g.runs) + " of " + std::to_string(g.runs) + " runs"});
  }
  return BarChart(id, bars, 1.0);
}

std::string DayLine(const std::vector<GroupCount>& days) {
  const int kWidth = 760, kHeight = 200, kLeft = 44, kBottom = 24;
  std::string svg = "<svg id=\"chart-days\" class=\"chart\" width=\"" + std::to_string(kWidth) + "\" height=\"" +
                    std::to_string(kHeight) + "\" role=\"img\">";
  int plot_w = kWidth - kLeft - 10, plot_h = kHeight - kBottom - 10;
  for (int pct = 0; pct <= 100; pct += 25) {
    double y = 10 + plot_h * (1 - pct / 100.0);
    svg += "<line x1=\"" + std::to_string(kLeft) + "\" x2=\"" + std::to_string(kWidth - 10) + "\" y1=\"" + Num(y) +
           "\" y2=\"" + Num(y) + "\" stroke=\"#e4e4e4\"/><text x=\"0\" y=\"" + Num(y + 4) + "\">" + std::to_string(pct) + "%</text>";
  }
  std::string points;
  size_t n = days.size();
  for (size_t i = 0; i < n; ++i) {
    double x = kLeft + (n == 1 ? plot_w / 2.0 : plot_w * static_cast<double>(i) / static_cast<double>(n - 1));
    double rate = days[i].runs ? static_cast<double>(days[i].installed) / static_cast<double>(days[i].runs) : 0;
    double y = 10 + plot_h * (1 - rate);
    points += Num(x) + "," + Num(y) + " ";
    svg += "<circle cx=\"" + Num(x) + "\" cy=\"" + Num(y) + "\" r=\"3\" fill=\"#2b8a3e\"><title>" +
           HtmlEscape(DayText(std::stoll(days[i].key))) + ": " + Percent(days[i].installed, days[i].runs) + " of " +
           std::to_string(days[i].runs) + "</title></circle>";
    if (n <= 12 || i % ((n + 11) / 12) == 0)
      svg += "<text x=\"" + Num(x - 30) + "\" y=\"" + std::to_string(kHeight - 6) + "\">" +
             HtmlEscape(DayText(std::stoll(days[i].key))) + "</text>";
  }
  if (n > 1) svg += "<polyline fill=\"none\" stroke=\"#2b8a3e\" stroke-width=\"2\" points=\"" + points + "\"/>";
  return svg + "</svg>";
}

std::string SpeedHistogram(const Summary& s) {
  const int kWidth = 760, kHeight = 200, kBottom = 36;
  int64_t max_count = *std::max_element(std::begin(s.speed), std::end(s.speed));
  std::string svg = "<svg id=\"chart-speed\" class=\"chart\" width=\"" + std::to_string(kWidth) + "\" height=\"" +
                    std::to_string(kHeight) + "\" role=\"img\">";
  double slot = static_cast<double>(kWidth) / kSpeedBucketCount;
  for (int b = 0; b < kSpeedBucketCount; ++b) {
    double h = max_count ? (kHeight - kBottom - 16) * static_cast<double>(s.speed[b]) / static_cast<double>(max_count) : 0;
    double x = b * slot + 6, y = kHeight - kBottom - h;
    svg += "<rect x=\"" + Num(x) + "\" y=\"" + Num(y) + "\" width=\"" + Num(slot - 12) + "\" height=\"" + Num(h) +
           "\" fill=\"#c17a4a\"/><text x=\"" + Num(x) + "\" y=\"" + Num(y - 3) + "\">" + std::to_string(s.speed[b]) +
           "</text><text x=\"" + Num(x) + "\" y=\"" + std::to_string(kHeight - kBottom + 16) + "\">" +
           HtmlEscape(SpeedBucketLabel(b)) + "</text>";
  }
  svg += "<text x=\"0\" y=\"" + std::to_string(kHeight - 4) + "\">MB/s (package download)</text>";
  return svg + "</svg>";
}

void JsonGroups(std::string* out, const char* name, const std::vector<GroupCount>& groups, bool days) {
  *out += ",\"" + std::string(name) + "\":[";
  for (size_t i = 0; i < groups.size(); ++i) {
    const GroupCount& g = groups[i];
    *out += std::string(i ? "," : "") + "{\"key\":\"" + JsonEscape(days ? DayText(std::stoll(g.key)) : g.key) +
            "\",\"runs\":" + std::to_string(g.runs) + ",\"installed\":" + std::to_string(g.installed) + "}";
  }
  *out += "]";
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string JsonEscape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
      // <, > and & too, so the JSON is safe to embed anywhere.
      char buffer[8];
      std::snprintf(buffer, sizeof(buffer), "\\u%04x", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string CsvField(const std::string& text) {
  std::string field = text;
  // A leading =, +, - or @ would be a formula in a spreadsheet.
  if (!field.empty() && std::string("=+-@").find(field[0]) != std::string::npos) field = "'" + field;
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string out = "\"";
  for (char c : field) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string DayText(int64_t day) {
  std::time_t t = static_cast<std::time_t>(day * 86400);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buffer[16];
  std::strftime(buffer, sizeof(buffer), "%Y-%m-%d", &tm);
  return buffer;
}

int64_t ParseDay(const std::string& text) {
  int y, m, d;
  char tail;
  if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) return -1;
  if (y < 1970 || y > 9999 || m < 1 || m > 12 || d < 1 || d > 31) return -1;
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = m - 1;
  tm.tm_mday = d;
  return static_cast<int64_t>(timegm(&tm)) / 86400;
}

std::string RenderLoginPage(const std::string& message) {
  std::string body = "<h1>Installer statistics</h1><section><form method=\"post\" action=\"/login\">"
                     "<p><label>User <input name=\"user\" autocomplete=\"username\"></label></p>"
                     "<p><label>Password <input name=\"password\" type=\"password\" autocomplete=\"current-password\"></label></p>"
                     "<p><button type=\"submit\">Log in</button></p></form>";
  if (!message.empty()) body += "<p id=\"login-message\">" + HtmlEscape(message) + "</p>";
  return Page("Log in", body + "</section>");
}

std::string RenderDashboard(const Summary& s, const Filter& filter, const std::vector<std::string>& channels,
                            const std::string& user) {
  std::string b = "<h1>Installer statistics</h1>";
  b += "<form class=\"filter\" method=\"get\" action=\"/\"><label>From <input type=\"date\" name=\"from\" value=\"" +
       DayText(filter.day_from) + "\"></label><label>To <input type=\"date\" name=\"to\" value=\"" + DayText(filter.day_to) +
       "\"></label><label>Channel <select name=\"channel\"><option value=\"\"" + (filter.all_channels ? " selected" : "") +
       ">all channels</option>";
  for (const std::string& c : channels) {
    bool selected = !filter.all_channels && filter.channel == c;
    const std::string shown = c.empty() ? "(none)" : c;
    b += "<option value=\"" + HtmlEscape(c) + "\" title=\"" + HtmlEscape(shown) + "\"" + (selected ? " selected" : "") +
         ">" + HtmlEscape(CutText(shown, kChannelOptionBytes)) + "</option>";
  }
  std::string query = "from=" + DayText(filter.day_from) + "&amp;to=" + DayText(filter.day_to);
  b += "</select></label><button type=\"submit\">Show</button> <a href=\"/api/summary.csv?" + query +
       "\">CSV</a> <a href=\"/api/summary.json?" + query + "\">JSON</a> <span>&middot; " + HtmlEscape(user) +
       "</span></form>";

  b += "<section id=\"totals\"><div class=\"kpi\">Runs started<b id=\"runs\">" + std::to_string(s.runs) +
       "</b></div><div class=\"kpi\">Installed<b id=\"installed\">" + std::to_string(s.installed) +
       "</b></div><div class=\"kpi\">Success rate<b id=\"rate\">" + Percent(s.installed, s.runs) + "</b></div></section>";

  // The funnel: runs that reached each step, with the drop from the step before.
  std::vector<Bar> funnel;
  for (int stage = 0; stage < kStageCount; ++stage) {
    int64_t n = s.funnel[stage];
    std::string text = std::to_string(n) + " (" + Percent(n, s.runs) + ")";
    if (stage > 0) text += ", drop " + std::to_string(s.funnel[stage - 1] - n);
    funnel.push_back({stage == 0 ? "started" : FunnelStageName(stage), static_cast<double>(n), text});
  }
  b += "<section><h2>Funnel</h2>" + BarChart("chart-funnel", funnel, static_cast<double>(s.runs)) + "</section>";

  b += "<section><h2>End reasons</h2><table id=\"end-reasons\"><tr><th>end record result</th><th>runs</th><th>share</th></tr>";
  for (const GroupCount& g : s.end_results)
    b += "<tr><td>" + HtmlEscape(EndResultName(std::stoll(g.key))) + "</td><td class=\"n\">" + std::to_string(g.runs) +
         "</td><td class=\"n\">" + Percent(g.runs, s.runs) + "</td></tr>";
  b += "</table></section>";

  b += "<section><h2>Success rate per channel</h2>" + RateBars("chart-channels", s.channels, 30, "(none)") + "</section>";
  b += "<section><h2>Success rate per OS</h2>" + RateBars("chart-os", s.os, 30, "(unknown)") + "</section>";
  b += "<section><h2>Success rate per day</h2>" + DayLine(s.days) + "</section>";
  b += "<section><h2>Package download speed</h2>" + SpeedHistogram(s) + "</section>";

  b += "<section><h2>Most frequent failure traces</h2><table id=\"failure-traces\"><tr><th>end record result</th><th>trace</th><th>value</th><th>runs</th></tr>";
  std::map<std::pair<int64_t, std::string>, int> shown;
  for (const FailureTrace& t : s.failure_traces) {
    if (++shown[{t.end_result, t.key}] > 5) continue;
    b += "<tr><td>" + HtmlEscape(EndResultName(t.end_result)) + "</td><td>" + HtmlEscape(t.key) + "</td><td><code>" +
         HtmlEscape(t.value) + "</code></td><td class=\"n\">" + std::to_string(t.runs) + "</td></tr>";
  }
  if (s.failure_traces.empty())
    b += "<tr><td class=\"empty\" colspan=\"4\">no failure traces in this range</td></tr>";
  b += "</table></section>";
  b += "<section><h2>One run</h2><form method=\"get\" action=\"/run\"><label>Sid <input name=\"sid\" size=\"40\"></label>"
       "<button type=\"submit\">Show</button></form></section>";
  return Page("Installer statistics", b);
}

std::string RenderRunPage(const RunRow& r, const std::vector<StoredRecord>& records) {
  std::string b = "<p><a href=\"/\">&larr; dashboard</a></p><h1>Run <span id=\"sid\">" + HtmlEscape(r.sid) + "</span></h1>";
  b += "<section><table id=\"run-fields\">";
  auto row = [&](const std::string& k, const std::string& v) {
    b += "<tr><th>" + HtmlEscape(k) + "</th><td>" + HtmlEscape(v) + "</td></tr>";
  };
  row("channel", r.channel);
  row("version", r.version);
  row("OS", r.os_name + " (code " + std::to_string(r.os_code) + ", build " + std::to_string(r.os_build) + ")");
  row("machine", r.pc_code);
  row("software", r.uinf);
  row("started (installer's clock)", r.start_text);
  row("first report (UTC)", DayText(r.day));
  row("end", r.has_end ? EndResultName(r.end_result) + " (Stat " + std::to_string(r.end_stat) + ", ExtReason " +
                             std::to_string(r.end_ext) + ")"
                       : "no end record");
  row("funnel", FunnelStageName(static_cast<int>(r.funnel_stage)));
  row("package", r.pkg_ms > 0 ? std::to_string(r.pkg_bytes) + " bytes in " + std::to_string(r.pkg_ms) + " ms" : "-");
  row("trust", r.trust < 0 ? "-" : r.trust ? "trusted" : "not trusted");
  b += "</table></section>";

  // The phase timeline: each step at its time since the start of the run.
  std::vector<std::pair<int64_t, int64_t>> steps;
  for (auto& [k, v] : TracePairs(r.traces))
    if (k == "p_trc") steps = PhaseSteps(v);
  int64_t last_ms = 1;
  for (auto& [step, ms] : steps) last_ms = std::max(last_ms, ms);
  const int kWidth = 760, kRow = 18;
  b += "<section><h2>Phase timeline</h2><svg id=\"chart-timeline\" class=\"chart\" width=\"" + std::to_string(kWidth) +
       "\" height=\"" + std::to_string(steps.size() * kRow + 10) + "\" role=\"img\">";
  int y = 4;
  for (auto& [step, ms] : steps) {
    double x = 90 + (kWidth - 200) * static_cast<double>(ms) / static_cast<double>(last_ms);
    b += "<text x=\"0\" y=\"" + std::to_string(y + 12) + "\">step " + std::to_string(step) + "</text><rect x=\"90\" y=\"" +
         std::to_string(y + 4) + "\" width=\"" + Num(x - 90) + "\" height=\"8\" fill=\"#dde6f3\"/><circle cx=\"" + Num(x) +
         "\" cy=\"" + std::to_string(y + 8) + "\" r=\"4\" fill=\"#4a7fc1\"/><text x=\"" + Num(x + 8) + "\" y=\"" +
         std::to_string(y + 12) + "\">" + std::to_string(ms) + " ms</text>";
    y += kRow;
  }
  b += "</svg></section>";

  b += "<section><h2>Records</h2><table id=\"records\">";
  for (const StoredRecord& rec : records) b += "<tr><th>" + HtmlEscape(rec.src) + "</th><td><code>" + HtmlEscape(rec.line) + "</code></td></tr>";
  b += "</table><h2>Traces (latest accumulated map)</h2><table id=\"traces\">";
  for (auto& [k, v] : TracePairs(r.traces)) b += "<tr><th>" + HtmlEscape(k) + "</th><td><code>" + HtmlEscape(v) + "</code></td></tr>";
  b += "</table></section>";
  return Page("Run " + r.sid, b);
}

std::string SummaryJson(const Summary& s, const Filter& f) {
  std::string out = "{\"from\":\"" + DayText(f.day_from) + "\",\"to\":\"" + DayText(f.day_to) + "\",\"channel\":" +
                    (f.all_channels ? std::string("null") : "\"" + JsonEscape(f.channel) + "\"") +
                    ",\"runs\":" + std::to_string(s.runs) + ",\"installed\":" + std::to_string(s.installed) + ",\"funnel\":[";
  for (int stage = 0; stage < kStageCount; ++stage)
    out += std::string(stage ? "," : "") + "{\"step\":\"" + (stage ? FunnelStageName(stage) : "started") +
           "\",\"runs\":" + std::to_string(s.funnel[stage]) + "}";
  out += "],\"end_results\":[";
  for (size_t i = 0; i < s.end_results.size(); ++i)
    out += std::string(i ? "," : "") + "{\"result\":" + s.end_results[i].key + ",\"name\":\"" +
           JsonEscape(EndResultName(std::stoll(s.end_results[i].key))) + "\",\"runs\":" + std::to_string(s.end_results[i].runs) + "}";
  out += "]";
  JsonGroups(&out, "channels", s.channels, false);
  JsonGroups(&out, "os", s.os, false);
  JsonGroups(&out, "days", s.days, true);
  out += ",\"speed_mb_s\":[";
  for (int b = 0; b < kSpeedBucketCount; ++b)
    out += std::string(b ? "," : "") + "{\"bucket\":\"" + SpeedBucketLabel(b) + "\",\"runs\":" + std::to_string(s.speed[b]) + "}";
  out += "],\"failure_traces\":[";
  for (size_t i = 0; i < s.failure_traces.size(); ++i) {
    const FailureTrace& t = s.failure_traces[i];
    out += std::string(i ? "," : "") + "{\"result\":" + std::to_string(t.end_result) + ",\"key\":\"" + JsonEscape(t.key) +
           "\",\"value\":\"" + JsonEscape(t.value) + "\",\"runs\":" + std::to_string(t.runs) + "}";
  }
  return out + "]}";
}

std::string SummaryCsv(const Summary& s, const Filter& f) {
  std::string out = "section,key,runs,installed\r\n";
  auto line = [&](const std::string& section, const std::string& key, int64_t runs, int64_t installed) {
    out += section + "," + CsvField(key) + "," + std::to_string(runs) + "," + std::to_string(installed) + "\r\n";
  };
  line("total", DayText(f.day_from) + ".." + DayText(f.day_to), s.runs, s.installed);
  for (int stage = 0; stage < kStageCount; ++stage) line("funnel", stage ? FunnelStageName(stage) : "started", s.funnel[stage], 0);
  for (const GroupCount& g : s.end_results) line("end_result", EndResultName(std::stoll(g.key)), g.runs, g.installed);
  for (const GroupCount& g : s.channels) line("channel", g.key, g.runs, g.installed);
  for (const GroupCount& g : s.os) line("os", g.key, g.runs, g.installed);
  for (const GroupCount& g : s.days) line("day", DayText(std::stoll(g.key)), g.runs, g.installed);
  for (int b = 0; b < kSpeedBucketCount; ++b) line("speed_mb_s", SpeedBucketLabel(b), s.speed[b], 0);
  for (const FailureTrace& t : s.failure_traces)
    line("failure_trace", EndResultName(t.end_result) + " " + t.key + "=" + t.value, t.runs, 0);
  return out;
}

std::string RunsJson(const std::vector<RunRow>& runs, const Filter& f) {
  std::string out = "{\"from\":\"" + DayText(f.day_from) + "\",\"to\":\"" + DayText(f.day_to) + "\",\"runs\":[";
  for (size_t i = 0; i < runs.size(); ++i) {
    const RunRow& r = runs[i];
    out += std::string(i ? "," : "") + "{\"sid\":\"" + JsonEscape(r.sid) + "\",\"channel\":\"" + JsonEscape(r.channel) +
           "\",\"os\":\"" + JsonEscape(r.os_name) + "\",\"first_seen\":" + std::to_string(r.first_seen) +
           ",\"last_seen\":" + std::to_string(r.last_seen) + ",\"end_result\":" + std::to_string(r.end_result) +
           ",\"funnel\":\"" + FunnelStageName(static_cast<int>(r.funnel_stage)) + "\",\"installed\":" +
           (r.installed ? "true" : "false") + "}";
  }
  return out + "]}";
}

std::string RunJson(const RunRow& r, const std::vector<StoredRecord>& records) {
  std::string out = "{";
  bool first = true;
  for (const RunColumn& c : RunColumns()) {
    out += std::string(first ? "" : ",") + "\"" + c.name + "\":";
    first = false;
    switch (c.kind) {
      case RunColumn::kText: out += "\"" + JsonEscape(r.*c.text) + "\""; break;
      case RunColumn::kInt: out += std::to_string(r.*c.integer); break;
      case RunColumn::kFlag: out += r.*c.flag ? "true" : "false"; break;
    }
  }
  out += ",\"records\":[";
  for (size_t i = 0; i < records.size(); ++i)
    out += std::string(i ? "," : "") + "{\"src\":\"" + JsonEscape(records[i].src) + "\",\"line\":\"" +
           JsonEscape(records[i].line) + "\",\"received\":" + std::to_string(records[i].received) + "}";
  return out + "]}";
}

}  // namespace zstats
