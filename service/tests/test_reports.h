// A set of synthetic runs for the store and server tests: every funnel
// stage, several channels and OS versions, retries and repeated maps.
#pragma once

#include <string>
#include <vector>

#include "report_form.h"

namespace zstats {

// Report bodies in the order a set of runs would send them, with retries of
// one-shot records and accumulated maps sent two or three times.
std::vector<std::string> SyntheticBodies(int runs);
std::vector<Report> ParseAll(const std::vector<std::string>& bodies);

}  // namespace zstats
