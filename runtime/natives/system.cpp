#include "runtime/natives/system.hpp"

#include <algorithm>
#include <string>

#include "runtime/datatypes/block.hpp"
#include <chrono>
#include <cmath>

#include "runtime/collector.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/file.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/error.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/unicode.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/time.hpp"
#include "runtime/error.hpp"
#include "runtime/natives/checksum.hpp"
#include "runtime/natives/control.hpp"
#include "runtime/natives/entries.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/output.hpp"
#include "runtime/platform/files.hpp"
#include "runtime/platform/gui.hpp"
#include "runtime/platform/clock.hpp"
#include "runtime/platform/env.hpp"
#include "runtime/stack.hpp"
#include "runtime/alloc_stats.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"

namespace kel::natives {

bool last_lf = true;

namespace {

// print and prin: a block is reduced first, a string printed as it is, any
// other value formed; the text goes to the value print hooks.
uint32_t print_value(bool newline) {
    Cell* base = stack::args;
    Cell value = base[0];
    if (cell::is(&value, type::block)) {
        // reduce in a frame of its own, its result left in base[1]
        stack::top = base + 1;
        stack::mark_native(nullptr);
        stack::push(&value);
        int32_t no_into = -1;
        if (uint32_t pending = reduce(Call{false, &no_into})) return pending;
        value = *stack::args;
        stack::unwind_drop();
        stack::top = base + 1;
    }
    Cell* text = stack::push_slot();
    if (cell::is(&value, type::string)) {
        *text = value;
        if (series::index_of(text) > series::total_length(text)) text->payload1 = uint32_t(series::total_length(text));
    } else {
        Cell* held = stack::push(&value);
        string::make(text, 16);
        actions::form(held, text, nullptr, INT32_MAX);
    }
    output::run_value_hooks(text, newline);
    last_lf = newline;
    cell::set_unset(base);
    stack::keep();
    return 0;
}

uint32_t answer_value(const Cell& value) {
    stack::set_result(&value);
    return 0;
}

}  // namespace

// transcode: text or UTF-8 bytes to values.
uint32_t transcode(const Call& call) {
    enum { next, one, prescan, scan, part, into, trace };
    auto used = [&](int i) { return call.refs[i] >= 0; };
    Cell* base = stack::args;
    Cell src = base[0];
    bool binary = cell::is(&src, type::binary);
    int64_t index = series::clamped_index(&src), total = series::total_length(&src);
    int64_t length = total - index;
    if (used(part)) {
        const Cell* p = base + call.refs[part];
        if (cell::is(p, type::integer)) {
            length = std::max<int64_t>(cell::integer(p), 0);
        } else {
            if (cell::type_of(p) != cell::type_of(&src) || p->payload2 != src.payload2)
                error::fire(error::id::not_same_type);
            length = std::max<int64_t>(int64_t(series::clamped_index(p)) - index, 0);
        }
        length = std::min(length, total - index);
    }
    // The text goes to the lexer from storage that cannot move while it scans.
    std::string text;
    int64_t skipped = 0;
    if (binary) {
        SeriesBuffer* b = alloc::buffer_of(src.payload2);
        const char* bytes = reinterpret_cast<const char*>(b->data() + b->offset) + index;
        text.assign(bytes, size_t(length));
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            text.erase(0, 3);
            skipped = 3;
        }
    } else {
        std::u32string units = string::read_text(&src, index, length);
        for (char32_t c : units) {
            uint8_t buf[4];
            int n = unicode::encode_utf8(uint32_t(c), buf);
            text.append(reinterpret_cast<char*>(buf), size_t(n));
        }
    }
    lexer::ScanOptions options;
    options.one_value = used(next) || used(one) || used(scan);
    options.scan = used(scan);
    options.prescan = used(prescan);
    options.keep_block = used(next) && !used(one);
    if (used(into)) options.target = base + call.refs[into];
    // Trace events name positions in the source, from where the text began.
    Cell source_at = src;
    source_at.payload1 = uint32_t(index + skipped);
    options.source = &source_at;
    if (used(trace)) options.trace = base + call.refs[trace];
    Cell* result = stack::push_slot();
    cell::set_none(result);
    uint32_t end = 0;
    int32_t last = lexer::scan(result, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), options,
                               &end);
    if (used(scan) || used(prescan)) {
        if (text.empty() || last <= 0) cell::set_none(result);
        else cell::set_datatype(result, uint8_t(last));
    }
    if (used(next) && !(used(one) && !used(scan))) {
        // The value (or type), then the source after it.
        Cell first = *result;
        if (!used(scan) && !used(prescan)) {
            first = series::length_from(result) > 0 ? *block::ks_abs_at(result, series::clamped_index(result))
                                                   : Cell{type::none, 0, 0, 0};
        }
        Cell* held = stack::push(&first);
        Cell after = src;
        const uint8_t* t = reinterpret_cast<const uint8_t*>(text.data());
        after.payload1 = uint32_t(index + (binary ? skipped + end : unicode::utf8_length(t, t + end)));
        Cell* out = block::push_new(2);
        block::ks_append(out, held);
        block::ks_append(out, &after);
        return answer_value(*out);
    }
    return answer_value(*result);
}

uint32_t print(const Call&) { return print_value(true); }
uint32_t prin(const Call&) { return print_value(false); }

void print_to_stdout(const Cell* text, bool newline) {
    const Cell s = *text;
    SeriesBuffer* b = alloc::buffer_of(s.payload2);
    uint32_t unit = series::unit_of(b);
    uint32_t from = uint32_t(series::clamped_index(&s)) * unit;
    stdio::write(b->data() + b->offset + from, b->tail - b->offset - from, int(unit), newline);
}

// ---- wait, the environment, the clock, files, the collector

namespace {

uint32_t answer(const Cell& value) {
    stack::set_result(&value);
    return 0;
}

// A word by its name, any string from its index, as UTF-8.
std::string name_of(const Cell* var) {
    if (series::is_text(cell::type_of(var))) return string::utf8_of(var);
    return std::string(symbol::name(var->payload2));
}

}  // namespace

// Sleeps for a number of seconds or a time!, then takes one pass over the
// pending window messages. The result is none.
uint32_t wait(const Call&) {
    const Cell* value = stack::args;
    double seconds;
    switch (cell::type_of(value)) {
    case type::integer: seconds = cell::integer(value); break;
    case type::float_:
    case type::time: seconds = cell::real(value); break;
    default: error::fire(error::id::invalid_arg, value);
    }
    sysrt::sleep_seconds(seconds);
    gui::do_events();
    return answer(*shared::none());
}

uint32_t set_env(const Call&) {
    const Cell* value = stack::args + 1;
    std::string name = name_of(stack::args);
    if (cell::is(value, type::none)) sysrt::set_env(name.c_str(), nullptr);
    else sysrt::set_env(name.c_str(), string::utf8_of(value).c_str());
    return answer(*value);
}

uint32_t get_env(const Call&) {
    std::optional<std::string> value = sysrt::get_env(name_of(stack::args).c_str());
    if (!value) return answer(*shared::none());
    Cell* out = stack::push_slot();
    string::make_from_utf8(out, value->data(), value->size());
    return answer(*out);
}

// The pairs are made on the argument stack, where they neither move nor
// get collected while the map is built.
uint32_t list_env(const Call&) {
    std::vector<std::pair<std::string, std::string>> entries = sysrt::list_env();
    Cell* first = stack::top;
    for (const auto& [name, value] : entries) {
        string::make_from_utf8(stack::push_slot(), name.data(), name.size());
        string::make_from_utf8(stack::push_slot(), value.data(), value.size());
    }
    Cell* out = stack::push_slot();
    map::box_from_cells(out, first, uint32_t(2 * entries.size()));
    return answer(*out);
}

// now: today's local (or UTC) date with the time of day and the zone, or
// one field of it. At most one field refinement, /time with /precise aside.
uint32_t now(const Call& call) {
    enum { year, month, day, time_, zone, date_, weekday, yearday, precise, utc };
    auto used = [&](int i) { return call.refs[i] >= 0; };
    int fields = 0;
    for (int i = year; i <= precise; ++i) fields += used(i);
    if (fields > 1 && !(fields == 2 && used(time_) && used(precise))) error::fire(error::id::bad_refines);

    uint32_t packed = sysrt::now_fields(used(utc));
    double zone_seconds = date::zone_seconds(packed & date::zone_mask);
    // The clock gives seconds since midnight UTC; the local time of day
    // wraps around the local midnight.
    double local = std::fmod(sysrt::now_utc_filetime(used(precise)) + zone_seconds + 86400.0, 86400.0);
    Cell r{};
    std::chrono::year_month_day ymd{std::chrono::year(date::year_of(packed)),
                                    std::chrono::month(unsigned(date::month_of(packed))),
                                    std::chrono::day(unsigned(date::day_of(packed)))};
    std::chrono::sys_days days{ymd};
    if (used(year)) cell::set_integer(&r, date::year_of(packed));
    else if (used(month)) cell::set_integer(&r, date::month_of(packed));
    else if (used(day)) cell::set_integer(&r, date::day_of(packed));
    else if (used(time_)) time::box(&r, local);
    else if (used(zone)) time::box(&r, zone_seconds);
    else if (used(weekday)) cell::set_integer(&r, int32_t(std::chrono::weekday(days).iso_encoding()));
    else if (used(yearday))
        cell::set_integer(&r, int32_t((days - std::chrono::sys_days{ymd.year() / 1 / 1}).count() + 1));
    else if (used(date_)) date::box(&r, packed & ~(date::has_time_bit | date::zone_mask), 0.0);
    else date::box(&r, packed | date::has_time_bit, date::to_utc(local, packed & date::zone_mask));
    return answer(r);
}

// size? of a file; none for a directory or a file that cannot be opened.
// A size past the integer! range is a float!.
uint32_t size_q(const Call&) {
    std::string path = file::to_local_path(stack::args);
    std::optional<int64_t> size = files::is_directory(path) ? std::nullopt : files::size(path);
    Cell r{};
    if (!size) cell::set_none(&r);
    else if (*size > INT32_MAX) cell::set_real(&r, type::float_, double(*size));
    else cell::set_integer(&r, int32_t(*size));
    return answer(r);
}

uint32_t browse(const Call&) {
    os::browse(string::utf8_of(stack::args).c_str());
    Cell r{};
    cell::set_unset(&r);
    return answer(r);
}

// recycle: a full collection, answering the memory in use as stats does;
// /on and /off only switch the collector.
uint32_t recycle(const Call& call) {
    enum { on_, off_ };
    bool on = call.refs[on_] >= 0, off = call.refs[off_] >= 0;
    Cell r{};
    if (on || off) {
        if (on) sys::record.collector_enabled = true;
        if (off) sys::record.collector_enabled = false;
        cell::set_unset(&r);
        return answer(r);
    }
    collector::collect();
    double bytes = alloc::stats_block(nullptr, 1);
    if (bytes > 2147483647.0) cell::set_real(&r, type::float_, bytes);
    else cell::set_integer(&r, int32_t(bytes));
    return answer(r);
}

}  // namespace kel::natives

namespace kel::os {

void check_arg_type(const Cell* value, uint8_t t) {
    if (cell::type_of(value) != t) error::fire(error::id::invalid_arg, value);
}

}  // namespace kel::os
