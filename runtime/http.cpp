#include "runtime/http.hpp"

#include <cctype>

#include "runtime/actions.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/platform/http.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel::http {

std::vector<std::pair<std::string, std::string>> parse_headers(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> out;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) continue;
        size_t from = colon + 1;
        while (from < line.size() && (line[from] == ' ' || line[from] == '\t')) ++from;
        out.emplace_back(std::string(line.substr(0, colon)), std::string(line.substr(from)));
    }
    return out;
}

std::vector<std::string_view> split_lines(std::string_view body) {
    std::vector<std::string_view> out;
    while (!body.empty()) {
        size_t end = body.find('\n');
        std::string_view line = body.substr(0, end);
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        out.push_back(line);
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
    }
    return out;
}

namespace {

bool any_word(const Cell* c) {
    uint8_t t = cell::type_of(c);
    return t == type::word || t == type::set_word || t == type::get_word || t == type::lit_word;
}

std::string text_of(const Cell* c) {
    if (any_word(c)) return std::string(symbol::name(c->payload2));
    if (cell::is(c, type::string)) return string::utf8_of(c);
    return string::utf8_of(string::formed(c));
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = char(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

os::HttpRequest make_request(const Cell* method, const Cell* url, const Cell* headers, const Cell* body) {
    os::HttpRequest r;
    r.method = upper(symbol::name(method->payload2));
    r.url = string::utf8_of(url);
    if (cell::is(headers, type::block)) {
        int32_t from = series::clamped_index(headers), n = series::total_length(headers);
        for (int32_t i = from; i + 1 < n; i += 2) {
            Cell name = *block::ks_abs_at(headers, i), value = *block::ks_abs_at(headers, i + 1);
            r.headers.emplace_back(text_of(&name), text_of(&value));
        }
    } else {
        r.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                     {"Accept-Charset", "UTF-8"},
                     {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"}};
    }
    if (r.method == "GET" || r.method == "HEAD") return r;
    switch (cell::type_of(body)) {
    case type::none: break;
    case type::binary:
        r.body_kind = os::HttpRequest::Body::bytes;
        r.body.assign(reinterpret_cast<const char*>(binary::ks_head(body)), binary::ks_length_q(body));
        break;
    case type::string:
        r.body_kind = os::HttpRequest::Body::text;
        r.body = string::utf8_of(body);
        break;
    default:  // a block is sent as its formed text
        r.body_kind = os::HttpRequest::Body::text;
        r.body = string::utf8_of(string::formed(body));
        break;
    }
    return r;
}

// The header map: a word key per name; a name met again turns its entry into
// a block of all its strings, in order. Names differing only in case are one
// name, as the map's words are.
void push_header_map(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> lines = parse_headers(text);
    std::vector<std::pair<uint32_t, std::vector<size_t>>> names;  // canonical symbol, line numbers
    for (size_t i = 0; i < lines.size(); ++i) {
        uint32_t symbol = symbol::make(lines[i].first.c_str());
        uint32_t key = symbol::resolve(symbol);
        auto it = names.begin();
        while (it != names.end() && symbol::resolve(it->first) != key) ++it;
        if (it == names.end()) names.push_back({symbol, {i}});
        else it->second.push_back(i);
    }
    Cell* first = stack::top;
    for (const auto& [symbol, at] : names) {
        Cell key{type::word, 0, symbol, uint32_t(-1)};
        stack::push(&key);
        if (at.size() == 1) {
            const std::string& v = lines[at[0]].second;
            string::make_from_utf8(stack::push_slot(), v.data(), v.size());
            continue;
        }
        Cell* values = block::push_new(int32_t(at.size()));
        for (size_t i : at) {
            const std::string& v = lines[i].second;
            string::make_from_utf8(stack::push_slot(), v.data(), v.size());
            block::append_top();
        }
        (void)values;
    }
    Cell* out = stack::push_slot();
    map::box_from_cells(out, first, uint32_t(2 * names.size()));
    Cell made = *out;
    stack::top = first;
    stack::push(&made);
}

void push_body(const std::string& body, bool binary_, bool lines) {
    if (binary_) {
        binary::load_at(stack::push_slot(), reinterpret_cast<const uint8_t*>(body.data()), body.size());
        return;
    }
    if (!lines) {
        string::make_from_utf8(stack::push_slot(), body.data(), body.size());
        return;
    }
    std::vector<std::string_view> parts = split_lines(body);
    block::push_new(int32_t(parts.size()));
    for (std::string_view line : parts) {
        string::make_from_utf8(stack::push_slot(), line.data(), line.size());
        block::append_top();
    }
}

}  // namespace

Cell* request(const Cell* method, const Cell* url, const Cell* headers, const Cell* body, bool binary_, bool lines,
              bool info) {
    if (!os::http_available) {
        Cell* what = stack::push_slot();
        string::make_from_utf8(what, "HTTP", 4);
        error::fire(error::id::not_available, what);
    }
    os::HttpRequest r = error::heap_guarded([&] { return make_request(method, url, headers, body); });
    std::optional<os::HttpResponse> answer = error::heap_guarded([&] { return os::http_send(r, info); });
    if (!answer) {
        Cell* none = stack::push_slot();
        cell::set_none(none);
        return none;
    }
    if (!info) {
        push_body(answer->body, binary_, lines);
        return stack::last();
    }
    Cell* result = block::push_new(3);
    if (answer->status) {
        Cell status;
        cell::set_integer(&status, *answer->status);
        block::ks_append(result, &status);
    }
    if (answer->headers) {
        push_header_map(*answer->headers);
        block::append_top();
    }
    push_body(answer->body, binary_, lines);
    block::append_top();
    return result;
}

}  // namespace kel::http
