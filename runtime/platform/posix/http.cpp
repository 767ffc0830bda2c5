// No HTTP client on POSIX hosts: the runtime raises its own error before
// asking.
#include "runtime/platform/http.hpp"

namespace kel::os {

const bool http_available = false;

std::optional<HttpResponse> http_send(const HttpRequest&, bool) { return std::nullopt; }

}  // namespace kel::os
