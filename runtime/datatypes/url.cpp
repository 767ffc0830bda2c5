#include "runtime/datatypes/url.hpp"

#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/port.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/call.hpp"
#include "runtime/interp.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/unicode.hpp"

namespace kel {

namespace {
int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The UTF-8 length a lead byte announces: 0 for ASCII and continuation bytes.
int announced(uint8_t b) { return b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0; }
}  // namespace

bool url::decode_hex_escape(const uint8_t* p, const uint8_t* end, uint8_t* byte) {
    if (end - p < 3 || p[0] != '%') return false;
    int hi = hex_value(p[1]), lo = hex_value(p[2]);
    if (hi < 0 || lo < 0) return false;
    *byte = uint8_t(hi * 16 + lo);
    return true;
}

bool url::decode_utf8(const uint8_t* text, size_t n, std::u32string& out) {
    const uint8_t* p = text;
    const uint8_t* end = text + n;
    while (p < end) {
        uint8_t b;
        if (decode_hex_escape(p, end, &b)) {
            int k = announced(b);
            if (k == 0) {
                out.push_back(b);
                p += 3;
                continue;
            }
            uint8_t seq[4] = {b};
            bool all = true;
            for (int i = 1; i < k && all; ++i) all = decode_hex_escape(p + 3 * i, end, &seq[i]);
            int32_t cp;
            if (all && unicode::decode_utf8_char(seq, seq + k, &cp) == seq + k && cp >= 0) {
                out.push_back(char32_t(cp));
                p += 3 * k;
                continue;
            }
        }
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_char(p, end, &cp);
        if (cp < 0) return false;
        out.push_back(char32_t(cp));
        p = next;
    }
    return true;
}

namespace url {

HttpRequest http_request = nullptr;

namespace {

bool keeps(int mode, uint8_t c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    if (c == '-' || c == '.' || c == '_' || c == '~') return true;
    if (mode == narrow_mode) return false;
    for (const char* p = "!#$&'()*+,/:=?@"; *p; ++p)
        if (c == uint8_t(*p)) return true;
    return false;
}

// A new value of type t holding the code points, pushed.
Cell* push_text(const std::u32string& text, uint8_t t) {
    Cell* out = stack::push_slot();
    string::make(out, uint32_t(std::max<size_t>(text.size(), 16)));
    string::append_text(out, text);
    cell::set_type(out, t);
    return out;
}

bool any_block_spec(const Cell* spec) {
    uint8_t t = cell::type_of(spec);
    return t == type::block || t == type::paren || t == type::hash;
}

// scheme://host[:port][/a/b#c] from the elements of a block, each formed.
Cell* from_block(Cell* spec) {
    int32_t from = series::clamped_index(spec), n = series::total_length(spec);
    if (from >= n) error::fire_bad_to_arg(type::url, spec);
    // Forming may allocate: every element is copied out of the block first.
    auto element = [&](int32_t i) { return *block::ks_abs_at(spec, i); };
    Cell first = element(from);
    std::u32string text = string::formed(&first) + U"://";
    int32_t i = from + 1;
    if (i < n) {
        Cell host = element(i++);
        text += string::formed(&host);
    }
    if (i < n) {
        Cell third = element(i);
        if (cell::is(&third, type::integer)) {
            text += U":" + string::formed(&third);
            ++i;
        }
    }
    if (i < n) {
        text += U"/";
        for (bool first = true; i < n; ++i, first = false) {
            Cell e = element(i);
            if (!first) text += cell::is(&e, type::issue) ? U"#" : U"/";
            text += string::formed(&e);
        }
    }
    return push_text(text, type::url);
}

bool http_scheme(const Cell* u) { return string::text_of(u).compare(0, 4, U"http") == 0; }

Cell* request(const Cell* method, Cell* u, const Cell* headers, const Cell* body, bool binary, bool lines, bool info) {
    Cell* answer = http_request ? http_request(method, u, headers, body, binary, lines, info) : nullptr;
    if (!answer || cell::is(answer, type::none)) {
        Cell arg = *u;
        error::fire(error::id::no_connect, &arg);
    }
    return answer;
}

Cell* read(Cell* u, const Cell* part, const Cell* seek, bool binary, bool lines, bool info, const Cell* as) {
    if (!http_scheme(u)) {
        Cell* p = to_port(u, false, false, false, false, false, nullptr);
        return port::read(p, part, seek, binary, lines, info, as);
    }
    if (part || seek || as) error::fire_not_done();
    Cell method{type::word, context::global, symbol::make("get"), uint32_t(-1)};
    return request(&method, u, shared::none(), shared::none(), binary, lines, info);
}

Cell* write(Cell* u, Cell* data, bool binary, bool lines, bool info, bool append, const Cell* part, const Cell* seek,
            const Cell* allow, const Cell* as) {
    if (!http_scheme(u)) {
        Cell* p = to_port(u, false, false, false, false, false, nullptr);
        return port::write(p, data, binary, lines, info, append, part, seek, allow, as);
    }
    if (seek || allow || as) error::fire_not_done();
    Cell method{type::word, context::global, symbol::make("post"), uint32_t(-1)};
    Cell headers = *shared::none(), body = *data;
    if (cell::is(data, type::block)) {
        int32_t from = series::clamped_index(data), n = series::total_length(data);
        body = *shared::none();
        if (from >= n) {
            method.payload2 = symbol::make("get");
        } else {
            method = *block::ks_abs_at(data, from);
            if (!cell::is(&method, type::word)) error::fire(error::id::invalid_arg, &method);
            if (from + 1 < n) {
                headers = *block::ks_abs_at(data, from + 1);
                if (!cell::is(&headers, type::block)) error::fire(error::id::invalid_arg, &headers);
            }
            if (from + 2 < n) body = *block::ks_abs_at(data, from + 2);
        }
    }
    uint8_t b = cell::type_of(&body);
    if (b != type::none && b != type::block && b != type::string && b != type::binary) error::fire(error::id::invalid_arg, &body);
    Cell* held = stack::push(&method);
    stack::push(&headers);
    stack::push(&body);
    return request(held, u, held + 1, held + 2, binary, lines, info);
}

Cell* open(Cell* u, bool new_, bool read_, bool write_, bool seek, const Cell* allow) {
    return to_port(u, true, new_, read_, write_, seek, allow);
}

}  // namespace

int encode_char(int mode, uint8_t byte, char out[3]) {
    if (byte < 128 && keeps(mode, byte)) {
        out[0] = char(byte);
        return 1;
    }
    static const char digits[] = "0123456789ABCDEF";
    out[0] = '%';
    out[1] = digits[byte >> 4];
    out[2] = digits[byte & 15];
    return 3;
}

std::string encode(const std::u32string& text, int mode) {
    std::string out;
    char buf[3];
    for (char c : string::utf8_of(text)) out.append(buf, size_t(encode_char(mode, uint8_t(c), buf)));
    return out;
}

void encode_text(const Cell* s, Cell* out, int mode) {
    std::string text = encode(string::text_of(s), mode);
    string::append_ascii(out, text.data(), text.size());
}

void decode_text(const Cell* s, Cell* out) {
    std::string bytes = string::utf8_of(s);
    std::u32string cps;
    decode_utf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), cps);
    string::append_text(out, cps);
}

Cell* make(Cell* proto, Cell* spec, uint8_t t) {
    if (t == type::url && any_block_spec(spec)) return from_block(spec);
    return string::make_value(proto, spec, t);
}

Cell* to(Cell* proto, Cell* spec, uint8_t t) {
    if (t == type::url && any_block_spec(spec)) return from_block(spec);
    return string::to(proto, spec, t);
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* part, int32_t limit, int32_t) {
    std::string text = encode(string::text_of(value), 255);
    if (part && int64_t(text.size()) > std::max(limit, 0)) text.resize(size_t(std::max(limit, 0)));
    string::append_ascii(out, text.data(), text.size());
    return limit - int32_t(text.size());
}

Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell*, const Cell*, const Cell*, int32_t,
                bool, bool, bool, bool) {
    if (store) {
        Cell e = *element, v = *store;
        error::fire(error::id::bad_path_set, &e, &v);
    }
    std::u32string text = string::text_of(value);
    std::u32string segment = string::formed(element);
    bool ends = !text.empty() && text.back() == '/';
    bool begins = !segment.empty() && segment.front() == '/';
    if (ends && begins) segment.erase(0, 1);
    else if (!ends && !begins) text.push_back('/');
    return push_text(text + segment, cell::type_of(value));
}

Cell* to_port(Cell* u, bool open, bool new_, bool read_, bool write_, bool seek, const Cell* allow) {
    // The boot environment's url-parser/parse-url, without /throw-error.
    Cell parser = *word::fetch(context::find_or_add_global(symbol::make("url-parser")));
    Cell name{type::word, context::global, symbol::make("parse-url"), uint32_t(-1)};
    Cell fn = cell::is(&parser, type::object) ? *object::get_word_value(&parser, &name) : *shared::none();
    if (!cell::is(&fn, type::function)) error::fire(error::id::no_value, &name);
    Cell arg = *u;
    if (uint32_t pending = call::with_values(fn, name, &arg, 1)) {
        (void)pending;
        exits::raise_pending();
    }
    Cell* spec = stack::last();
    if (!cell::is(spec, type::object)) error::fire(error::id::invalid_arg, u);
    Cell* p = port::make(nullptr, spec, type::port);
    if (open) port::open(p, new_, read_, write_, seek, allow);
    return p;
}

void register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::make, &make)
        .set(action::random, static_cast<void (*)()>(nullptr))
        .set(action::reflect, static_cast<void (*)()>(nullptr))
        .set(action::to, &to)
        .set(action::mold, &mold)
        .set(action::eval_path, &eval_path)
        .set(action::open, &open)
        .set(action::read, &read)
        .set(action::write, &write);
    datatype::register_type({type::url, type::string, "url!", row.handlers});
}

}  // namespace url
}  // namespace kel
