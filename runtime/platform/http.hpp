// HTTP requests through the platform's client, one synchronous request per
// call. Windows drives the WinHTTP request object; POSIX hosts have no
// client here (http_available is false there and nothing is sent).
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kel::os {

struct HttpRequest {
    std::string method;  // "GET", "POST", ...
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;  // UTF-8, in the order they are set
    enum class Body { none, text, bytes } body_kind = Body::none;
    std::string body;  // text as UTF-8 (sent with LF as CR LF), or the bytes
};

struct HttpResponse {
    std::optional<int> status;           // absent when it could not be read
    std::optional<std::string> headers;  // the header lines as UTF-8, when asked for and read
    std::string body;
};

extern const bool http_available;

// Sends the request and reads the answer (the status and headers too when
// with_head); nothing when the request could not be made, sent or read.
std::optional<HttpResponse> http_send(const HttpRequest& request, bool with_head);

}  // namespace kel::os
