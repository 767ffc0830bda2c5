#include "runtime/simpleio.hpp"

#include "runtime/context.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/file.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/platform/files.hpp"
#include "runtime/platform/std_handles.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/unicode.hpp"

namespace kel::simpleio {
namespace {

[[noreturn]] void cannot_open(const Cell* file) {
    Cell arg = *file;
    error::fire(error::id::cannot_open, &arg);
}

// An integer refinement argument; -1 when absent; anything else raises
// invalid-refine-arg.
int64_t integer_arg(const Cell* value, const char* refinement) {
    if (!value) return -1;
    if (!cell::is(value, type::integer)) {
        Cell name{type::refinement, context::global, symbol::make(refinement), uint32_t(-1)};
        Cell arg = *value;
        error::fire_bad_refinement(&name, &arg);
    }
    return cell::integer(value);
}

void append_utf8(std::string& out, const std::u32string& text) {
    char buf[4];
    for (char32_t c : text) out.append(buf, size_t(unicode::encode_utf8_replacing(c, buf)));
}

// The bytes a value is written as.
void bytes_of(const Cell* value, int64_t part, std::string& out) {
    if (cell::is(value, type::binary)) {
        SeriesBuffer* b = alloc::buffer_of(value->payload2);
        int64_t n = series::length_from(value);
        if (part > 0 && part < n) n = part;
        const char* p = reinterpret_cast<const char*>(b->data() + b->offset) + series::clamped_index(value);
        out.append(p, size_t(n));
    } else if (cell::is(value, type::string)) {
        append_utf8(out, string::text_of(value));
    } else {
        append_utf8(out, string::formed(value));
    }
}

Cell* push_file(const std::string& utf8) {
    Cell* f = stack::push_slot();
    cell::set_none(f);
    string::make_from_utf8(f, utf8.data(), utf8.size());
    cell::set_type(f, type::file);
    return f;
}

Cell* read_dir(Cell* file) {
    std::u32string text = string::text_of(file);
    Cell* result = block::push_new(16);
    if (file::host == file::Host::windows && text == U"/") {
        for (const std::string& letter : files::drives()) {
            block::ks_append(result, push_file(letter + "/"));
            stack::pop(1);
        }
        return result;
    }
    std::optional<std::vector<files::Entry>> entries = files::list(file::to_local_path(file));
    if (!entries) cannot_open(file);
    for (const files::Entry& e : *entries) {
        block::ks_append(result, push_file(e.directory ? e.name + "/" : e.name));
        stack::pop(1);
    }
    return result;
}

// Lines end at LF; a CR before the LF is dropped; text after the last LF
// is the last line.
Cell* push_lines(const std::string& bytes) {
    Cell* result = block::push_new(16);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        size_t next = end == std::string::npos ? bytes.size() : end + 1;
        if (end == std::string::npos) end = bytes.size();
        else if (end > start && bytes[end - 1] == '\r') --end;
        Cell* line = stack::push_slot();
        cell::set_none(line);
        string::make_from_utf8(line, bytes.data() + start, end - start);
        block::ks_append(result, line);
        stack::pop(1);
        start = next;
    }
    return result;
}

}  // namespace

std::optional<std::string> read_bytes(const Cell* file) { return files::read(file::to_local_path(file), -1, -1); }

Cell* read_dispatch(Cell* file, const Cell* seek, const Cell* part, bool binary, bool lines) {
    int64_t at = integer_arg(seek, "seek");
    int64_t length = integer_arg(part, "part");
    if (file::directory_like(string::text_of(file))) return read_dir(file);
    std::optional<std::string> bytes = files::read(file::to_local_path(file), at, length);
    if (!bytes) cannot_open(file);
    if (binary) {
        Cell* out = stack::push_slot();
        binary::make_at(out, uint32_t(bytes->size()));
        SeriesBuffer* b = alloc::buffer_of(out->payload2);
        std::copy(bytes->begin(), bytes->end(), b->data() + b->offset);
        b->tail = b->offset + uint32_t(bytes->size());
        return out;
    }
    if (lines) return push_lines(*bytes);
    Cell* out = stack::push_slot();
    cell::set_none(out);
    return string::make_from_utf8(out, bytes->data(), bytes->size());
}

void write_dispatch(Cell* file, Cell* data, const Cell* seek, const Cell* part, bool, bool append, bool lines) {
    int64_t at = integer_arg(seek, "seek");
    if (seek && at < 0) return;
    int64_t length = part && cell::is(part, type::integer) ? cell::integer(part) : -1;
    std::string bytes;
    if (lines && series::is_any_block(cell::type_of(data))) {
        for (int32_t i = series::clamped_index(data), n = series::total_length(data); i < n; ++i) {
            Cell value = *block::ks_abs_at(data, i);
            bytes_of(&value, length, bytes);
            bytes += "\r\n";
        }
    } else {
        bytes_of(data, length, bytes);
        if (lines) bytes += "\r\n";
    }
    if (!file) {
        os::write_stdout(bytes.data(), bytes.size());
        return;
    }
    if (!files::write(file::to_local_path(file), bytes, at, append)) cannot_open(file);
}

Cell* query_file(const Cell* file) {
    std::u32string text = string::text_of(file);
    bool want_directory = !text.empty() && (text.back() == '/' || text.back() == '\\');
    std::optional<files::Stamp> t = files::modified(file::to_local_path(file), want_directory);
    Cell* out = stack::push_slot();
    if (!t) {
        cell::set_none(out);
        return out;
    }
    double seconds = t->hour * 3600.0 + t->minute * 60.0 + t->second + t->millisecond / 1000.0;
    return date::box_from_parts(out, t->year, t->month, t->day, seconds, 0, 0, true);
}

bool delete_file(const Cell* file) {
    return files::remove(file::to_local_path(file), file::directory_like(string::text_of(file)));
}

bool rename_file(const Cell* from, const Cell* to) {
    if (!series::is_text(cell::type_of(to))) {
        Cell arg = *to;
        error::fire(error::id::invalid_arg, &arg);
    }
    return files::rename(file::to_local_path(from), file::to_local_path(to));
}

}  // namespace kel::simpleio
