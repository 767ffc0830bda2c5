// Case folding. The head of case_folding.hpp says how a code point is mapped.
#include "runtime/case_folding.hpp"

#include <algorithm>

#include "runtime/alloc.hpp"
#include "runtime/error.hpp"
#include "runtime/system.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace kel::case_folding {

Tables tables;

namespace {

void fill(uint32_t* table, const CasePair* pairs, uint32_t count) {
    std::fill(table, table + 0x10000, 0u);
    for (uint32_t i = 0; i < count; ++i) table[pairs[i].from] = pairs[i].to;
}

uint32_t get_unit(const uint8_t* p, uint32_t unit) {
    switch (unit) {
        case 1: return *p;
        case 2: return *reinterpret_cast<const uint16_t*>(p);
        default: return *reinterpret_cast<const uint32_t*>(p);
    }
}

void put_unit(uint8_t* p, uint32_t unit, uint32_t cp) {
    switch (unit) {
        case 1: *p = uint8_t(cp); break;
        case 2: *reinterpret_cast<uint16_t*>(p) = uint16_t(cp); break;
        default: *reinterpret_cast<uint32_t*>(p) = cp; break;
    }
}

// The buffer widened to hold cp, as storing a character does.
SeriesBuffer* widen_for(SeriesBuffer* b, uint32_t cp) {
    uint32_t unit = b->unit();
    if (unit == 1 && cp > 0xFFFF) return unicode::widen_1_to_4(b);
    if (unit == 1 && cp > 0xFF) return unicode::widen_1_to_2(b);
    if (unit == 2 && cp > 0xFFFF) return unicode::widen_2_to_4(b);
    return b;
}

}  // namespace

void init() {
    fill(tables.upper, upper_pairs, upper_pairs_count);
    fill(tables.lower, lower_pairs, lower_pairs_count);
}

uint32_t change_case_supplementary(uint32_t cp, bool upper) {
    const CasePair* pairs = upper ? upper_supplementary : lower_supplementary;
    const CasePair* end = pairs + (upper ? upper_supplementary_count : lower_supplementary_count);
    const CasePair* at = std::lower_bound(pairs, end, cp, [](const CasePair& p, uint32_t c) { return p.from < c; });
    return at != end && at->from == cp ? at->to : cp;
}

void change_case_value(Cell* value, int32_t part, bool upper) {
    if (cell::is(value, type::char_)) {
        value->payload2 = change_case(value->payload2, upper);
        return;
    }
    NodeId node = value->payload2;
    SeriesBuffer* b = alloc::buffer_of(node);
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) sys::quit(101, KEL_CALLER_ADDRESS());
    uint32_t length = (b->tail - b->offset) / unit;
    if (value->payload1 > length) value->payload1 = length;
    uint32_t index = value->payload1;
    int64_t count = length - index;
    if (part > 0) {
        const Cell* limit = value + part;
        int64_t n;
        if (cell::is(limit, type::integer))
            n = int32_t(limit->payload2);
        else if (cell::type_of(limit) == cell::type_of(value) && limit->payload2 == node)
            n = int64_t(limit->payload1) - index;
        else
            error::fire_bad_refinement(words::refinements.part, limit);
        count = std::clamp<int64_t>(n, 0, count);
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* p = b->data() + b->offset + size_t(index + i) * unit;
        uint32_t cp = get_unit(p, unit);
        uint32_t to = change_case(cp, upper);
        if (to == cp) continue;
        SeriesBuffer* wider = widen_for(b, to);
        if (wider != b || wider->unit() != unit) {
            // Widening rewrote (and may have moved) the buffer: find the unit
            // again by its index in the new width.
            b = wider;
            unit = b->unit();
            p = b->data() + b->offset + size_t(index + i) * unit;
        }
        put_unit(p, unit, to);
    }
}

}  // namespace kel::case_folding
