#include "net/http_async_win.h"
#include "net/http_ultra_sync_win.h"
#include "net/job_table.h"

namespace net {

uint32_t DownloadJobTable::CreateDownLoadJob(IOutFile* sink, const std::wstring& url,
                                             uint32_t useRange, uint32_t first, uint32_t last,
                                             const wchar_t* extraHeaders, bool ultra) {
  IHttpAsync* job = ultra ? static_cast<IHttpAsync*>(new CMyComObject<CHttpUltraSync>())
                          : static_cast<IHttpAsync*>(new CMyComObject<CHttpAsync>());
  return StartJob(job, sink, url, useRange, first, last, extraHeaders);
}

}  // namespace net
