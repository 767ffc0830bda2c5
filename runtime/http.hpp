// http::request, the HTTP client behind read and write of http and https
// urls (the url! module's hook): it turns the method word, the header block
// and the body into a platform request, and the answer into a Kel value:
// the body as a string!, a block of lines or a binary!, and with info a
// block [status headers body], the headers a map! from word to string (a
// repeated header to a block of its strings). Error statuses are answers
// like any other.
#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/cell.hpp"

namespace kel::http {

// The hook: pushes the answer, or none when the request failed. On a host
// without a client it raises access not-available.
Cell* request(const Cell* method, const Cell* url, const Cell* headers, const Cell* body, bool binary, bool lines,
              bool info);

// The header lines "Name: value", each split at its first colon, the spaces
// and tabs after it skipped and a CR at the end dropped; lines with no
// colon (the status line) are left out.
std::vector<std::pair<std::string, std::string>> parse_headers(std::string_view text);

// The body's lines: split at LF, a CR before the LF dropped, a last line
// without LF kept.
std::vector<std::string_view> split_lines(std::string_view body);

}  // namespace kel::http
