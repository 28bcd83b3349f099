#pragma once

#include <cstdint>

#include "net/com_object.h"
#include "net/http_types.h"

namespace net {

// The sink of one job: forwards the job's bytes to the owner (the output
// file manager) and remembers the job's range and the response length.
template <class Owner>
class COutFileSubStream : public IOutFile, public CMyCComObjectRoot {
 public:
  COutFileSubStream(Owner* owner, uint32_t first, uint32_t last)
      : first_(first), last_(last), owner_(owner) {
    owner_->AddRef();
  }
  ~COutFileSubStream() { owner_->Release(); }

  int Write(uint32_t position, const uint8_t* data, uint32_t length, uint32_t limit,
            uint32_t jobId, int* stop) override {
    owner_->Write(position, length, data, limit, jobId, stop);
    return 0;
  }
  int OnClose() override { return 0; }
  int OnStart() override { return 0; }
  int OnResponse(const HttpResponseInfo& response, uint32_t rangeFirst, uint32_t rangeLast,
                 uint32_t jobId) override {
    contentLength_ = response.contentLength;
    first_ = rangeFirst;
    last_ = rangeLast;
    owner_->OnJobResponse(jobId, response);
    return 0;
  }

  uint32_t first() const { return first_; }
  uint32_t last() const { return last_; }
  uint32_t contentLength() const { return contentLength_; }

 private:
  uint32_t first_;
  uint32_t last_;
  uint32_t contentLength_ = 0;
  Owner* owner_;  // one reference held
};

}  // namespace net
