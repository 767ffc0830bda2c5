#include "runtime/simpleio.hpp"

#include <functional>

#include "runtime/alloc.hpp"
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

// The bytes a write sends, made a piece at a time: text is encoded to
// UTF-8 from its own buffer in pieces of about 64 KiB, so writing a large
// string never holds a second whole copy of it. The values stay in their
// cells (an argument, or the block in one), where the collector sees them;
// buffer addresses are taken afresh for every piece.
class Encoder {
public:
    // With lines and a block, each of its values, else the value itself;
    // with lines each one followed by CR LF. A part above 0 cuts a binary!.
    Encoder(const Cell* data, int64_t part, bool lines) : data_(data), part_(part), lines_(lines) {
        each_ = lines && series::is_any_block(cell::type_of(data));
        next_ = each_ ? series::clamped_index(data) : 0;
    }

    std::string_view operator()() {
        for (;;) {
            if (!open_) {
                if (lines_ && started_ && !ended_) {
                    ended_ = true;
                    return "\r\n";
                }
                if (!take_next()) return {};
            }
            std::string_view piece = more();
            if (!piece.empty()) return piece;
            open_ = false;
        }
    }

private:
    static constexpr size_t piece_size = 65536;

    // Opens the next value to write; false when there are no more.
    bool take_next() {
        if (each_) {
            if (next_ >= series::total_length(data_)) return false;
            value_ = *block::ks_abs_at(data_, next_++);
        } else {
            if (started_) return false;
            value_ = *data_;
        }
        started_ = true;
        ended_ = false;
        open_ = true;
        at_ = 0;
        formed_.clear();
        // Other values are formed first; text and bytes are read where they are.
        if (!cell::is(&value_, type::binary) && !cell::is(&value_, type::string)) formed_ = string::formed(&value_);
        return true;
    }

    // The next piece of the open value; empty at its end.
    std::string_view more() {
        if (cell::is(&value_, type::binary)) {
            SeriesBuffer* b = alloc::buffer_of(value_.payload2);
            size_t n = size_t(series::length_from(&value_));
            if (part_ > 0 && uint64_t(part_) < n) n = size_t(part_);
            const char* p = reinterpret_cast<const char*>(b->data() + b->offset) + series::clamped_index(&value_);
            std::string_view rest(p + at_, n - std::min(at_, n));
            at_ = n;
            return rest;
        }
        piece_.clear();
        char buf[4];
        if (cell::is(&value_, type::string)) {
            string::Units u = string::units_of(&value_);
            for (; at_ < u.count && piece_.size() < piece_size; ++at_)
                piece_.append(buf, size_t(unicode::encode_utf8_replacing(string::get_char(u.start + at_ * u.unit, u.unit), buf)));
        } else {
            for (; at_ < formed_.size() && piece_.size() < piece_size; ++at_)
                piece_.append(buf, size_t(unicode::encode_utf8_replacing(formed_[at_], buf)));
        }
        return piece_;
    }

    const Cell* data_;
    int64_t part_;
    bool lines_, each_;
    int32_t next_ = 0;       // the block value to open next
    Cell value_{};           // the open value
    bool started_ = false, open_ = false, ended_ = false;
    size_t at_ = 0;          // how far into the open value
    std::u32string formed_;  // the open value formed, when it is not text or bytes
    std::string piece_;
};

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
// is the last line. Text is decoded strictly: invalid UTF-8 raises.
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
        string::load_at(line, reinterpret_cast<const uint8_t*>(bytes.data()) + start, uint32_t(end - start));
        block::ks_append(result, line);
        stack::pop(1);
        start = next;
    }
    return result;
}

// The bytes of the file from `seek` up to `part` (both -1 when absent), as
// many as one series holds: more raise too-long, running out of memory
// no-memory. Nothing when the file cannot be opened or read.
std::optional<std::string> read_host(const Cell* file, int64_t seek, int64_t part) {
    std::string path = file::to_local_path(file);
    files::Failure why = files::Failure::cannot_open;
    std::optional<std::string> bytes =
        error::heap_guarded([&] { return files::read(path, seek, part, alloc::series_limit, &why); });
    if (!bytes && why == files::Failure::too_long) error::fire(error::id::too_long);
    return bytes;
}

}  // namespace

std::optional<std::string> read_bytes(const Cell* file) { return read_host(file, -1, -1); }

Cell* read_dispatch(Cell* file, const Cell* seek, const Cell* part, bool binary, bool lines) {
    int64_t at = integer_arg(seek, "seek");
    int64_t length = integer_arg(part, "part");
    if (file::directory_like(string::text_of(file))) return read_dir(file);
    std::optional<std::string> bytes = read_host(file, at, length);
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
    return string::load_at(stack::push_slot(), reinterpret_cast<const uint8_t*>(bytes->data()), uint32_t(bytes->size()));
}

void write_dispatch(Cell* file, Cell* data, const Cell* seek, const Cell* part, bool, bool append, bool lines) {
    int64_t at = integer_arg(seek, "seek");
    if (seek && at < 0) return;
    int64_t length = part && cell::is(part, type::integer) ? cell::integer(part) : -1;
    Encoder pieces(data, length, lines);
    if (!file) {
        for (std::string_view piece = pieces(); !piece.empty(); piece = pieces())
            os::write_stdout(piece.data(), piece.size());
        return;
    }
    std::string path = file::to_local_path(file);
    bool written = error::heap_guarded([&] { return files::write(path, std::ref(pieces), at, append); });
    if (!written) cannot_open(file);
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
