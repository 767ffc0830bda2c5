#include "runtime/natives/system.hpp"

#include <algorithm>
#include <string>

#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/error.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/unicode.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/natives/control.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/output.hpp"
#include "runtime/stack.hpp"

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
                error::fire(error::Id{error::Category::script, "not-same-type"});
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
    uint32_t unit = b->unit() ? b->unit() : 1;
    uint32_t from = uint32_t(series::clamped_index(&s)) * unit;
    stdio::write(b->data() + b->offset + from, b->tail - b->offset - from, int(unit), newline);
}

void init_system() {
    table[22] = print;
    table[23] = prin;
    table[105] = transcode;
}

}  // namespace kel::natives
