#include "runtime/datatypes/file.hpp"

#include "runtime/actions.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/error.hpp"
#include "runtime/simpleio.hpp"
#include "runtime/platform/env.hpp"
#include "runtime/stack.hpp"
#include "runtime/unicode.hpp"

namespace kel::file {
namespace {

std::u32string decode(const std::string& utf8) {
    std::u32string out;
    for (size_t i = 0; i < utf8.size();) out.push_back(unicode::next_utf8(utf8, i));
    return out;
}

// The characters ("/" and "\" aside) a molded file keeps without quotes:
// the url-safe set.
bool url_safe(uint32_t c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    for (const char* p = "!#$&'()*+,-./:=?@_~"; *p; ++p)
        if (c == uint32_t(*p)) return true;
    return false;
}

std::u32string windows_form(const std::u32string& path, bool full, const std::u32string& current) {
    std::u32string out;
    size_t i = 0, n = path.size();
    if (n > 0 && path[0] == '/') {
        if (n == 1) return U"\\";  // the root of the current drive
        char32_t c = path[1];
        if (c == '/') {
            out = U"\\";
            i = 2;
        } else if (n == 2 || path[2] == '/') {
            out = std::u32string(1, c) + U":\\";
            i = n == 2 ? 2 : 3;
        } else {
            out = U"\\\\";
            i = 1;
        }
    } else if (full) {
        out = current;
    }
    for (; i < n; ++i) out.push_back(path[i] == '/' ? U'\\' : path[i]);
    return out;
}

std::u32string posix_form(const std::u32string& path, bool full, const std::u32string& current) {
    if (path.size() >= 2 && path[0] == '/' && path[1] == '/') return path.substr(1);
    if (!path.empty() && path[0] == '/') return path;
    return full ? current + path : path;
}

Cell* delete_(Cell* file) {
    bool ok = simpleio::delete_file(file);
    return stack::push(shared::logic(ok));
}

Cell* query(Cell* file) { return simpleio::query_file(file); }

Cell* rename(Cell* from, Cell* to) {
    bool ok = simpleio::rename_file(from, to);
    return stack::push(shared::logic(ok));
}

Cell* read(Cell* source, const Cell* part, const Cell* seek, bool binary, bool lines, bool, const Cell* as) {
    if (as) error::fire_not_done();
    return simpleio::read_dispatch(source, seek, part, binary, lines);
}

Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool, bool append, const Cell* part,
            const Cell* seek, const Cell* allow, const Cell* as) {
    if (allow || as) error::fire_not_done();
    simpleio::write_dispatch(destination, data, seek, part, binary, append, lines);
    Cell* result = stack::push_slot();
    cell::set_unset(result);
    return result;
}

}  // namespace

std::u32string local_text(const std::u32string& path, bool full, const std::u32string& current, Host h) {
    return h == Host::windows ? windows_form(path, full, current) : posix_form(path, full, current);
}

std::u32string current_dir() {
    std::u32string dir = decode(sysrt::get_current_dir().value_or(""));
    char32_t separator = host == Host::windows ? U'\\' : U'/';
    if (dir.empty() || dir.back() != separator) dir.push_back(separator);
    return dir;
}

std::u32string kel_text(const std::u32string& local, Host h) {
    if (h == Host::posix) return local;
    std::u32string out;
    bool colon = false, slash = false;
    for (size_t i = 0; i < local.size(); ++i) {
        char32_t c = local[i];
        if (c == ':') {
            if (colon || slash) return out;
            colon = true;
            if (i + 1 < local.size() && (local[i + 1] == '\\' || local[i + 1] == '/')) ++i;
            out += '/';
        } else if (c == '\\' || c == '/') {
            if (!slash) out += '/';
            slash = true;
        } else {
            out += c;
            slash = false;
        }
    }
    if (colon) out.insert(out.begin(), U'/');
    return out;
}

void to_local_string(const Cell* file, Cell* out, bool full) {
    std::u32string path = string::text_of(file);
    bool relative = path.empty() || path[0] != '/';
    string::append_text(out, local_text(path, full, full && relative ? current_dir() : U""));
}

std::string to_local_path(const Cell* file) {
    std::u32string local = local_text(string::text_of(file), false, U"");
    // The system ends a name at a NUL: the rest would be dropped and
    // another file named.
    if (local.find(U'\0') != std::u32string::npos) {
        Cell arg = *file;
        error::fire(error::id::invalid_arg, &arg);
    }
    std::string out;
    char buf[4];
    for (char32_t c : local) out.append(buf, size_t(unicode::encode_utf8_replacing(c, buf)));
    return out;
}

void slashes_to_kel(Cell* file) {
    std::u32string text = string::text_of(file);
    NodeId node = file->payload2;
    int32_t at = series::clamped_index(file);
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\\') {
            SeriesBuffer* b = alloc::buffer_of(node);
            uint32_t unit = b->unit();
            string::put_char(b->data() + b->offset + (size_t(at) + i) * unit, unit, '/');
        }
}

bool directory_like(const std::u32string& path) {
    if (path.empty()) return false;
    char32_t last = path.back();
    if (last == '/' || last == '\\') return true;
    size_t start = path.find_last_of(U"/\\");
    std::u32string segment = start == std::u32string::npos ? path : path.substr(start + 1);
    return segment == U"." || segment == U"..";
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* part, int32_t limit, int32_t) {
    std::u32string text = string::text_of(value);
    if (part) text.resize(std::min(text.size(), size_t(std::max(limit, 0))));
    string::append_ascii(out, "%", 1);
    if (text.empty()) {
        string::append_ascii(out, "\"\"", 2);
        return limit - 3;
    }
    bool quoted = false;
    for (char32_t c : text)
        if (c <= 126 && !url_safe(c)) quoted = true;
    if (!quoted) {
        string::append_text(out, text);
        return limit - int32_t(text.size()) - 1;
    }
    // Inside the quotes the text is written as a string is, so that a
    // caret or a control character loads back; the lexer ends the quoted
    // form at any double quote, so that one is written as its code.
    string::append_ascii(out, "\"", 1);
    int32_t written = 2;
    for (char32_t c : text) {
        if (c == '"') {
            string::append_ascii(out, "^(22)", 5);
            written += 5;
        } else {
            written += string::mold_char_escaped(out, c, false);
        }
    }
    string::append_ascii(out, "\"", 1);
    return limit - written - 1;
}

void register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::random, static_cast<void (*)()>(nullptr))
        .set(action::reflect, static_cast<void (*)()>(nullptr))
        .set(action::form, &string::form)
        .set(action::mold, &mold)
        .set(action::delete_, &delete_)
        .set(action::query, &query)
        .set(action::rename, &rename)
        .set(action::read, &read)
        .set(action::write, &write)
        .set(action::open, static_cast<void (*)()>(nullptr));
    datatype::register_type({type::file, type::url, "file!", row.handlers});
}

}  // namespace kel::file
