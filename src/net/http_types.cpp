#include "net/http_types.h"

#include <cstring>

namespace net {

bool operator==(const SystemTime& a, const SystemTime& b) {
  return std::memcmp(&a, &b, sizeof(SystemTime)) == 0;
}

HttpRequestParams DefaultRequestParams() {
  HttpRequestParams params;
  std::memset(&params, 0, sizeof(params));
  params.method = kMethodGet;
  params.port = 80;
  params.connectTimeout = 60000;
  params.sendTimeout = 60000;
  params.receiveTimeout = 60000;
  return params;
}

}  // namespace net
