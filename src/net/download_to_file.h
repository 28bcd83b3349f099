#pragma once

#include <cstdint>
#include <string>

#include "net/download_control.h"

// Fetches url into the file at path over up to eight ranged connections and
// blocks until the file is complete, the deadline passes or the control is
// cancelled. Results: 0 complete, 5 the file could not be opened, 1223
// cancelled or refused by the server (4xx), 1287 a connection wait failed,
// 1460 the deadline passed. *progress (when given) gets 1 at the start, the
// percentage while the size is known and 100 at the end. With resume set, a
// resume record beside the file (path + ".resume") for the same URL, not
// counting its "rnd" parameter, continues an earlier download. The control's
// done event is set before the call returns; ultra mode runs as the
// multi-connection download.
int DownLoadUrlToFile(DownloadControl* control, const std::wstring& url, const std::wstring& path,
                      std::uint32_t timeoutSeconds, int ultra, int resume, int* progress);
