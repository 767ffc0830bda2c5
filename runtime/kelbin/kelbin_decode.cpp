// The KELBIN decoder, both layouts; kelbin.hpp has the format.
//
// The decoder allocates as it goes: it holds every series it fills as a node
// id, appends a placeholder cell to the parent before allocating a child,
// and re-reads buffers after each allocation.
//
// Paths: the decoder resolves a path (written at a later sight of a node) by
// walking from its target block through blocks, contexts' values, function
// spec and body, natives' specs.
#include "runtime/kelbin/kelbin.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "runtime/actions.hpp"
#include "runtime/alloc.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/image.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/hash.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/hashtable.hpp"
#include "runtime/kelbin/layout.hpp"
#include "runtime/mem.hpp"
#include "runtime/lz.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/system.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::kelbin {
using namespace layout;

bool read_varint(const uint8_t** pos, const uint8_t* end, uint32_t* value) {
    const uint8_t* p = *pos;
    uint32_t v = 0;
    for (int i = 0; i < 5; ++i) {
        if (p >= end) return false;
        uint8_t b = *p++;
        if (i == 4 && (b & 0xF0)) return false;
        v |= uint32_t(b & 0x7F) << (7 * i);
        if (!(b & 0x80)) {
            *pos = p;
            *value = v;
            return true;
        }
    }
    return false;
}

// ---- decoding

namespace {

// Puts the stack top back where it was, however the scope ends.
struct StackMark {
    Cell* top = stack::top;
    ~StackMark() { stack::top = top; }
};

// A series of cells being filled: records append to its tail.
using Parent = NodeId;

// What the start of a record says, in either layout: the type, the flag F
// (in the fixed layout made from the header word's per-type bits), the
// prefixes, and the fixed header word itself.
struct Head {
    uint8_t type = 0;
    bool f = false, reference = false, newline = false, definition = false;
    uint32_t bits = 0;
    const uint8_t* at = nullptr;  // the record's first byte
};

bool word_type(uint32_t t) { return t >= type::word && t <= type::refinement; }

// One walker reads both layouts: the fields come in the same order, and
// num()/snum() read a number as a varint or as a 32-bit word. The layout is
// a template parameter so that the boot image's compact load pays nothing
// for the fixed one.
template <bool Fixed>
struct Decoder {
    static constexpr bool fixed = Fixed;
    const uint8_t* start;
    const uint8_t* pos;
    const uint8_t* end;
    bool codec;
    NodeId target;       // paths start here
    uint32_t root_base;  // the target's cells before this decode
    uint8_t flags = 0;
    // The symbol table: offsets into the names, and the symbols made so far.
    const uint8_t* names = nullptr;
    uint32_t names_size = 0;
    const uint8_t* offsets = nullptr;
    std::vector<uint32_t> symbols;
    int depth = 0;

    [[noreturn]] void fail(const uint8_t* at) {
        Cell where;
        cell::set_integer(&where, int32_t(at - start) + 1);
        error::fire(error::id::rb_invalid_record, &where);
    }
    [[noreturn]] void fail() { fail(pos); }

    uint64_t left() const { return uint64_t(end - pos); }
    uint8_t byte() {
        if (pos >= end) fail();
        return *pos++;
    }
    uint32_t varint() {
        uint32_t v;
        if (!read_varint(&pos, end, &v)) fail();
        return v;
    }
    int32_t zigzag() {
        uint32_t u = varint();
        return int32_t((u >> 1) ^ (0u - (u & 1)));
    }
    uint32_t raw() {
        if (left() < 4) fail();
        uint32_t v = uint32_t(pos[0]) | uint32_t(pos[1]) << 8 | uint32_t(pos[2]) << 16 | uint32_t(pos[3]) << 24;
        pos += 4;
        return v;
    }
    uint32_t num() { return fixed ? raw() : varint(); }
    int32_t snum() { return fixed ? int32_t(raw()) : zigzag(); }
    const uint8_t* take(uint64_t n) {
        if (n > left()) fail();
        const uint8_t* p = pos;
        pos += n;
        return p;
    }
    // n bytes of a series' content; the fixed layout pads them to 4.
    const uint8_t* content(uint64_t n) { return take(fixed ? (n + 3) & ~uint64_t(3) : n); }
    // The fewest bytes a record or a symbol index takes.
    uint64_t least() const { return fixed ? 4 : 1; }
    // A count of items of at least min_bytes each: they must fit in what is left.
    uint32_t count(uint64_t min_bytes) {
        const uint8_t* at = pos;
        uint32_t n = num();
        if (uint64_t(n) * min_bytes > left()) fail(at);
        return n;
    }

    uint32_t symbol() {
        const uint8_t* at = pos;
        uint32_t i = num();
        if (i >= symbols.size()) fail(at);
        if (!symbols[i]) {
            uint32_t off = uint32_t(offsets[4 * i]) | uint32_t(offsets[4 * i + 1]) << 8 |
                           uint32_t(offsets[4 * i + 2]) << 16 | uint32_t(offsets[4 * i + 3]) << 24;
            if (off >= names_size) fail(at);
            const uint8_t* name = names + off;
            size_t n = strnlen(reinterpret_cast<const char*>(name), names_size - off);
            if (n == 0 || off + n >= names_size) fail(at);
            symbols[i] = symbol::make_len(reinterpret_cast<const char*>(name), n);
        }
        return symbols[i];
    }

    // ---- the parent's cells

    // Appends a none cell to the parent; answers its position.
    uint32_t append(Parent parent) {
        SeriesBuffer* b = alloc::buffer_of(parent);
        uint32_t at = (b->tail - b->offset) / uint32_t(sizeof(Cell));
        cell::set_none(series::bump_tail(b));
        return at;
    }
    Cell* at(Parent parent, uint32_t i) { return series::cells_of(parent) + i; }
    void store(Parent parent, uint32_t i, const Cell& v) { *at(parent, i) = v; }

    // ---- paths

    // A path: its count and indexes. In the fixed layout a reference's path
    // opens with the word 255 (marker); a copy record's header is that word.
    std::vector<uint32_t> read_path(bool marker) {
        if (fixed && marker) {
            const uint8_t* at_ = pos;
            if (raw() != fixed_path) fail(at_);
        }
        const uint8_t* at_ = pos;
        uint32_t n = num();
        if (n < 1 || n > max_path || uint64_t(n) * least() > left()) fail(at_);
        std::vector<uint32_t> p(n);
        for (uint32_t& i : p) i = num();
        return p;
    }

    Cell resolve(const std::vector<uint32_t>& path, const uint8_t* at_) {
        Cell cur{type::block, 0, target, 0};
        bool top = true;
        for (uint32_t index : path) {
            if (top) {
                top = false;
                if (uint64_t(index) + root_base >= series::cell_count(target)) fail(at_);
                cur = series::cells_of(target)[index + root_base];
                continue;
            }
            uint8_t t = cell::type_of(&cur);
            NodeId cells = 0;
            uint32_t base = 0;
            if (word::any_word_q(t) && t != type::issue && cur.payload1 && context::on_stack(cur.payload1)) {
                cur = *context::owner_cell(cur.payload1);
                t = cell::type_of(&cur);
                if (t != type::function) fail(at_);
            }
            if (series::is_any_block(t) || t == type::map) {
                cells = cur.payload2;
            } else if (word::any_word_q(t) && t != type::issue && cur.payload1) {
                cells = context::context_cell(cur.payload1)->payload2;
            } else if (t == type::native || t == type::action) {
                cells = cur.payload2;
            } else if (t == type::object || t == type::error) {
                cells = context::context_cell(cur.payload1)->payload2;
                if (t == type::error) base = 3;
            } else if (t == type::function || (t == type::op && (op::source_type(&cur) == type::function))) {
                if (index == 0) cur = Cell{type::block, 0, cur.payload2, 0};
                else if (index == 1) cur = *function::body_of(&cur);
                else fail(at_);
                continue;
            } else {
                fail(at_);
            }
            if (!cells || uint64_t(index) + base >= series::cell_count(cells)) fail(at_);
            cur = series::cells_of(cells)[index + base];
        }
        return cur;
    }

    // ---- records

    void record(Parent parent) {
        if (++depth > max_depth) fail();
        // The makers called here may leave cells on the stack.
        StackMark mark;
        Head h;
        if (fixed) {
            uint32_t w;
            do {  // padding words
                h.at = pos;
                w = raw();
            } while ((w & 0xFF) == 0);
            h = fixed_head(w, h.at);
            if (h.type == fixed_path) {  // a copy of the value at a path
                Cell v = resolve(read_path(false), h.at);
                finish(parent, append(parent), v, h.newline);
                --depth;
                return;
            }
        } else {
            uint8_t lead;
            for (;;) {
                h.at = pos;
                lead = byte();
                if (lead == lead_newline) h.newline = true;
                else if (lead == lead_reference) h.reference = true;
                else if (lead == lead_definition) h.definition = true;
                else break;
            }
            if (h.definition && codec) fail(h.at);
            if (lead >= 0x80) {
                if (h.reference || h.definition) fail(h.at);
                Cell v{};
                if (lead <= 0xBF) cell::set_integer(&v, lead & 0x3F);
                else if (lead == lead_true || lead == lead_false) cell::set_logic(&v, lead == lead_true);
                else if (lead == lead_copy) v = resolve(read_path(false), h.at);
                else fail(h.at);
                finish(parent, append(parent), v, h.newline);
                --depth;
                return;
            }
            h.f = lead & flag_f;
            uint32_t t = lead & 0x3F;
            if (t == 0x3F) t = varint();
            if (t == 0 || t > 0xFF) fail(h.at);
            if (h.definition && !word_type(t)) fail(h.at);
            h.type = uint8_t(t);
        }
        typed(parent, h);
        --depth;
    }

    // A fixed header word as the compact layout's prefixes and F.
    Head fixed_head(uint32_t w, const uint8_t* at_) const {
        Head h;
        h.at = at_;
        h.bits = w;
        h.type = uint8_t(w);
        h.newline = w & fixed_newline;
        h.reference = w & fixed_reference;
        uint8_t t = h.type;
        if (word_type(t)) {
            if (codec) h.f = !(w & fixed_global);
            else h.definition = w & fixed_definition;
        } else if (t == type::object) {
            h.f = w & fixed_handlers;
        } else if (t == type::bitset) {
            h.f = w & fixed_complemented;
        } else if (t == type::money) {
            h.f = w & fixed_money_negative;
        } else {
            // Series carry their head index always.
            h.f = series::is_any_block(t) || series::is_text(t) || t == type::binary || t == type::vector ||
                  t == type::image;
        }
        return h;
    }

    void finish(Parent parent, uint32_t i, Cell v, bool newline) {
        if (newline) v.header |= cell::newline_flag;
        store(parent, i, v);
    }

    void typed(Parent parent, const Head& h) {
        uint8_t t = h.type;
        if (no_codec_type(t)) {
            Cell d;
            cell::set_datatype(&d, t);
            error::fire(error::id::no_codec, &d);
        }
        bool refable = series::is_any_block(t) || series::is_text(t) || t == type::binary || t == type::vector ||
                       t == type::bitset || t == type::map || t == type::object || t == type::function ||
                       t == type::error || t == type::image || word_type(t);
        if (h.reference && !refable) fail(h.at);
        Cell v{};
        switch (t) {
            case type::datatype: {
                uint32_t id = num();
                if (id < 1 || id >= type::count || !datatype::names[id].name) fail(h.at);
                cell::set_datatype(&v, uint8_t(id));
                break;
            }
            case type::unset: case type::none: v.header = t; break;
            case type::logic: {
                // Compact: true and false have lead bytes of their own.
                if (!fixed) fail(h.at);
                uint32_t b = raw();
                if (b > 1) fail(h.at);
                cell::set_logic(&v, b);
                break;
            }
            case type::char_: {
                uint32_t cp = num();
                if (cp > 0x10FFFF) fail(h.at);
                v = Cell{type::char_, 0, cp, 0};
                break;
            }
            case type::integer: cell::set_integer(&v, snum()); break;
            case type::float_: case type::percent: case type::time:
                if (fixed) {  // the high half first
                    v.header = t;
                    v.payload3 = raw();
                    v.payload2 = raw();
                } else if (h.f) {
                    int32_t n = zigzag();
                    cell::set_real(&v, t, t == type::percent ? double(n) / 100.0 : double(n));
                } else {
                    v.header = t;
                    v.payload2 = raw();
                    v.payload3 = raw();
                }
                break;
            case type::pair: v.header = t; v.payload2 = uint32_t(snum()); v.payload3 = uint32_t(snum()); break;
            case type::point2d: v.header = t; v.payload1 = raw(); v.payload2 = raw(); break;
            case type::point3d: v.header = t; v.payload1 = raw(); v.payload2 = raw(); v.payload3 = raw(); break;
            case type::date: {
                uint32_t packed = raw();
                bool has_time = packed & 0x10000;
                if (!fixed && has_time != h.f) fail(h.at);
                int32_t month = date::month_of(packed), day = date::day_of(packed);
                if (month < 1 || month > 12 || day < 1 || day > date::days_in_month(date::year_of(packed), month) ||
                    ((packed >> 2) & 0xF) > 15)
                    fail(h.at);
                v = Cell{type::date, packed, 0, 0};
                if (fixed) {
                    // Always a time, the high half first: 0 for a date without one.
                    uint32_t high = raw(), low = raw();
                    if (!has_time && (high || low)) fail(h.at);
                    v.payload2 = low;
                    v.payload3 = high;
                } else if (has_time) {
                    v.payload2 = raw();
                    v.payload3 = raw();
                }
                if (has_time && !std::isfinite(cell::real(&v))) fail(h.at);
                break;
            }
            case type::typeset: {
                v.header = t;
                if (fixed) {
                    v.payload1 = raw();
                    v.payload2 = raw();
                    v.payload3 = raw();
                    break;
                }
                uint8_t n = byte();
                if (n > 12) fail(h.at);
                std::memcpy(&v.payload1, take(n), n);
                break;
            }
            case type::tuple: {
                uint32_t n = fixed ? (h.bits >> 8 & 0xFF) : h.f ? byte() : 3;
                if (n < 3 || n > 12) fail(h.at);
                tuple::box_bytes(&v, take(fixed ? 12 : n), n);
                break;
            }
            case type::money: {
                const uint8_t* b = take(12);
                if (b[0] && money::currency_code(b[0]).empty()) fail(h.at);
                for (int i = 1; i < 12; ++i)
                    if ((b[i] >> 4) > 9 || (b[i] & 0xF) > 9) fail(h.at);
                v.header = t | (h.f ? money_negative : 0);
                std::memcpy(reinterpret_cast<uint8_t*>(&v) + 4, b, 12);
                break;
            }
            case type::issue: {
                uint32_t sym = symbol();
                v = Cell{type::issue, context::global, sym, 0xFFFFFFFF};
                break;
            }
            case type::word: case type::set_word: case type::lit_word: case type::get_word: case type::refinement:
                word(parent, h);
                return;
            case type::block: case type::paren: case type::path: case type::lit_path: case type::set_path:
            case type::get_path: case type::hash: case type::string: case type::file: case type::url:
            case type::tag: case type::email: case type::ref: case type::binary: case type::vector:
            case type::bitset: case type::map:
                series(parent, h);
                return;
            case type::image:
                image_record(parent, h);
                return;
            case type::context: {
                uint32_t i = append(parent);
                const uint8_t* flags_at = fixed ? h.at : pos;
                uint8_t flags = fixed ? context_flags_of(h.bits) : byte();
                context_record(parent, i, type::object, false, flags, flags_at);
                if (h.newline) at(parent, i)->header |= cell::newline_flag;
                return;
            }
            case type::object: case type::function: case type::error:
                if (h.reference) {
                    Cell r = resolve(read_path(true), h.at);
                    // An owner written inline after a word is found through that word.
                    uint8_t rt = cell::type_of(&r);
                    if (word_type(rt) && r.payload1) r = *context::owner_cell(r.payload1);
                    if (cell::type_of(&r) != t) fail(h.at);
                    finish(parent, append(parent), r, h.newline);
                    return;
                }
            {
                uint32_t i = append(parent);
                owner(parent, i, t, h.f, false, h.at);
                if (h.newline) at(parent, i)->header |= cell::newline_flag;
                return;
            }
            case type::native: case type::action: {
                uint32_t i = append(parent);
                const uint8_t* index_at = pos;
                uint32_t index = num();
                if (index < 1 || (t == type::native ? index > natives::count : index > 62)) fail(index_at);
                collector::RootCell spec;
                block::make_at(&spec.cell, 2);
                record(spec.cell.payload2);
                if (!cell::is(series::cells_of(spec.cell.payload2), type::block)) fail(h.at);
                Cell* n = block::ks_append(&spec.cell, &spec.cell);
                cell::set_integer(n, int32_t(index));
                collector::RootCell made;
                made.cell = Cell{type::datatype, t, 0, 0};
                Cell* r = t == type::native ? native::make(&made.cell, &spec.cell, t)
                                            : action_::make(&made.cell, &spec.cell, t);
                finish(parent, i, *r, h.newline);
                return;
            }
            case type::op: {
                uint32_t i = append(parent);
                collector::RootCell inner;
                block::make_at(&inner.cell, 1);
                record(inner.cell.payload2);
                Cell w = *series::cells_of(inner.cell.payload2);
                uint8_t st = cell::type_of(&w);
                if (st != type::native && st != type::action && st != type::function) fail(h.at);
                // Fixed: the header names the wrapped type too.
                if (fixed && st != (h.bits >> 16 & 0xFF)) fail(h.at);
                w.header = type::op | uint32_t(st) << 16;
                finish(parent, i, w, h.newline);
                return;
            }
            default: fail(h.at);
        }
        finish(parent, append(parent), v, h.newline);
    }

    // The head of the context record inside an object or function record:
    // the type byte 14 and the flags byte, or the fixed header word. Answers
    // the flags as the compact layout has them.
    uint8_t context_head(const uint8_t* lead_at, const uint8_t** flags_at) {
        if (fixed) {
            *flags_at = pos;
            uint32_t w = raw();
            if ((w & 0xFF) != type::context) fail(lead_at);
            return context_flags_of(w);
        }
        if (byte() != type::context) fail(lead_at);
        *flags_at = pos;
        return byte();
    }

    // A context record after its head: a new context, its words and values.
    // The owner cell (object, class -1) goes to parent[i] as soon as the
    // context exists, so paths into it resolve while its values decode.
    // Answers the context.
    NodeId context_record(Parent parent, uint32_t i, uint8_t owner_type, bool word_slot, uint8_t flags,
                          const uint8_t* flags_at) {
        uint32_t n = count(least());
        bool on_stack = flags & 4;
        if (on_stack != (owner_type == type::function)) fail(flags_at);
        std::vector<uint32_t> syms(n);
        for (uint32_t& s : syms) s = symbol();
        NodeId ctx = context::make(n, on_stack, flags & 8, 0, flags & 3);
        collector::RootCell hold;
        hold.cell = Cell{type::object, ctx, 0xFFFFFFFF, 0};
        for (uint32_t s : syms) {
            int32_t added = -1;
            if (context::add_symbol(ctx, s, true, &added) >= 0) fail(flags_at);
        }
        if (owner_type == type::object) {
            *context::owner_cell(ctx) = hold.cell;
            if (word_slot) at(parent, i)->payload1 = ctx;
            else store(parent, i, hold.cell);
        }
        if (!on_stack) {
            NodeId values = context::context_cell(ctx)->payload2;
            if (flags & 16) {
                for (uint32_t k = 0; k < n; ++k) record(values);
            } else {
                SeriesBuffer* b = alloc::buffer_of(values);
                b->tail = b->offset + n * uint32_t(sizeof(Cell));
            }
        }
        return ctx;
    }

    // An object!, function! or error! record after its head, into
    // parent[i]; for an owner inline after a word, parent[i] is the word and
    // takes only the context.
    void owner(Parent parent, uint32_t i, uint8_t t, bool f, bool word_slot, const uint8_t* lead_at) {
        if (t == type::object) {
            int32_t class_id = snum();
            if (f) snum(), snum();
            const uint8_t* flags_at;
            uint8_t flags = context_head(lead_at, &flags_at);
            NodeId ctx = context_record(parent, i, type::object, word_slot, flags, flags_at);
            collector::RootCell obj;
            obj.cell = Cell{type::object, ctx, codec ? 0xFFFFFFFF : uint32_t(class_id), 0};
            *context::owner_cell(ctx) = obj.cell;
            if (f) object::build_handlers(&obj.cell);
            if (!word_slot) store(parent, i, obj.cell);
        } else if (t == type::function) {
            uint32_t spec_len = count(least()), body_len = count(least());
            (void)spec_len, (void)body_len;
            const uint8_t* flags_at;
            uint8_t flags = context_head(lead_at, &flags_at);
            NodeId ctx = context_record(parent, i, type::function, false, flags, flags_at);
            collector::RootCell parts, fn;
            fn.cell = Cell{type::object, ctx, 0, 0};
            block::make_at(&parts.cell, 2);
            NodeId more = alloc::alloc_unset_cells(function::more_cells);
            SeriesBuffer* b = alloc::buffer_of(more);
            b->tail = b->offset + function::more_cells * uint32_t(sizeof(Cell));
            fn.cell = Cell{type::function, ctx, parts.cell.payload2, more};
            *context::owner_cell(ctx) = fn.cell;
            if (word_slot) at(parent, i)->payload1 = ctx;
            else store(parent, i, fn.cell);
            record(parts.cell.payload2);
            if (!cell::is(series::cells_of(parts.cell.payload2), type::block)) fail(lead_at);
            fn.cell.payload2 = series::cells_of(parts.cell.payload2)[0].payload2;
            *context::owner_cell(ctx) = fn.cell;
            if (!word_slot) store(parent, i, fn.cell);
            record(parts.cell.payload2);
            Cell body = series::cells_of(parts.cell.payload2)[1];
            if (!cell::is(&body, type::block)) fail(lead_at);
            body.header &= ~cell::newline_flag;
            // The context must be the one the spec makes: its words are the
            // arguments the interpreter pushes.
            Cell spec{type::block, 0, fn.cell.payload2, 0};
            fn.cell.header = type::function | (function::check_spec(&spec) & ~cell::type_mask);
            NodeId expect = context::make_from_block(&spec, true, false, function::context_kind);
            uint32_t n = context::word_count(ctx);
            if (context::word_count(expect) != n) fail(lead_at);
            for (uint32_t k = 0; k < n; ++k)
                if (symbol::resolve(context::word_at(expect, k)->payload2) !=
                    symbol::resolve(context::word_at(ctx, k)->payload2))
                    fail(lead_at);
            series::cells_of(more)[0] = body;
            *context::owner_cell(ctx) = fn.cell;
            if (!word_slot) store(parent, i, fn.cell);
        } else {  // error!
            if (word_slot) fail(lead_at);
            const uint8_t* code_at = pos;
            uint32_t code = num();
            collector::RootCell spec, made, args;
            cell::set_integer(&spec.cell, int32_t(code));
            made.cell = Cell{type::datatype, type::error, 0, 0};
            if (code > 0x7FFFFFFF) fail(code_at);
            Cell* e = error::make(&made.cell, &spec.cell, type::error);
            made.cell = *e;
            store(parent, i, made.cell);
            block::make_at(&args.cell, 6);
            for (int k = 0; k < 6; ++k) record(args.cell.payload2);
            for (uint32_t k = 0; k < 6; ++k) *error::field_of(&made.cell, 3 + k) = series::cells_of(args.cell.payload2)[k];
        }
    }

    void word(Parent parent, const Head& h) {
        uint32_t sym = symbol();
        uint32_t i = append(parent);
        // Global unless F (fixed: bit 25 clear). A fixed boot image names the
        // context of every word by root index, -1 for the global one.
        uint32_t root = !codec && fixed ? raw() : 0;
        bool global = !codec && fixed ? root == 0xFFFFFFFF : !h.f;
        if (global) {
            if (fixed) raw();  // the index: looked up instead
            if (h.reference) fail(h.at);
            Cell w;
            word::make_in(sym, &w);
            cell::set_type(&w, h.type);
            finish(parent, i, w, h.newline);
        } else {
            bound_word(parent, i, h, sym, root);
        }
        if (h.definition) {
            record(parent);
            Cell word_cell = *at(parent, i), value = *at(parent, i + 1);
            collector::RootCell held;
            held.cell = value;
            word::set(&word_cell, &held.cell);
            SeriesBuffer* b = alloc::buffer_of(parent);
            b->tail = b->offset + i * uint32_t(sizeof(Cell));
        }
    }

    // A word bound to another context, into parent[i]. Codec: the symbol
    // index, then the context's owner inline or a path to it. Boot images:
    // the context of root cell r, counted from this load's first.
    void bound_word(Parent parent, uint32_t i, const Head& h, uint32_t sym, uint32_t root) {
        uint8_t t = h.type;
        if (!codec && !fixed) root = varint();
        const uint8_t* index_at = pos;
        int32_t index = snum();
        if (codec) {
            store(parent, i, Cell{t, 0, sym, uint32_t(index)});
            NodeId ctx;
            if (h.reference) {
                Cell ref = resolve(read_path(true), h.at);
                uint8_t rt = cell::type_of(&ref);
                if (rt != type::object && rt != type::function && !(word_type(rt) && ref.payload1)) fail(h.at);
                ctx = ref.payload1;
                at(parent, i)->payload1 = ctx;
            } else {
                // The owner's head: a type byte with F, or a header word.
                uint32_t ob = fixed ? raw() : byte();
                uint8_t ot = fixed ? uint8_t(ob) : ob & 0x3F;
                bool of = fixed ? ob & fixed_handlers : ob & flag_f;
                bool bad = fixed ? ob & fixed_reference : ob & 0x80;
                if (bad || (ot != type::object && ot != type::function)) fail(h.at);
                owner(parent, i, ot, of, true, h.at);
                ctx = at(parent, i)->payload1;
            }
            if (!ctx || (index != -1 && (index < 0 || uint32_t(index) >= context::word_count(ctx))))
                fail(index_at);
            if (h.newline) at(parent, i)->header |= cell::newline_flag;
            return;
        }
        if (uint64_t(root) + root_base >= series::cell_count(target)) fail(h.at);
        Cell r = series::cells_of(target)[root + root_base];
        uint8_t rt = cell::type_of(&r);
        if (rt != type::object && rt != type::function) fail(h.at);
        NodeId ctx = r.payload1;
        if (index == -1) index = context::find_word_index(ctx, sym, true);
        if (index < 0 || uint32_t(index) >= context::word_count(ctx)) fail(index_at);
        finish(parent, i, Cell{t, ctx, sym, uint32_t(index)}, h.newline);
    }

    void series(Parent parent, const Head& h) {
        uint8_t t = h.type;
        bool indexed = t != type::bitset && t != type::map;
        uint32_t head = indexed && h.f ? num() : 0;
        uint32_t i = append(parent);
        if (h.reference) {
            Cell r = resolve(read_path(true), h.at);
            uint8_t rt = cell::type_of(&r);
            bool ok;
            if (series::is_any_block(t) && t != type::hash)
                ok = series::is_any_block(rt) || rt == type::native || rt == type::action ||
                     rt == type::function;
            else if (series::is_text(t)) ok = series::is_text(rt);
            else if (t == type::binary) ok = rt == type::binary || (series::is_text(rt) && alloc::buffer_of(r.payload2)->unit() == 1);
            else ok = rt == t;
            if (!ok) fail(h.at);
            if (t != rt && t != type::vector) r.payload3 = 0;
            r.header = t;
            if (indexed) r.payload1 = head;
            finish(parent, i, r, h.newline);
            return;
        }
        Cell v{};
        if (series::is_any_block(t) || t == type::map) {
            uint32_t n = count(least());
            if (t == type::map && n % 2) fail(h.at);
            collector::RootCell made;
            block::make_at(&made.cell, int32_t(n));
            made.cell.payload1 = head;
            // Filled in place, as a block while its elements decode.
            store(parent, i, made.cell);
            NodeId node = made.cell.payload2;
            for (uint32_t k = 0; k < n; ++k) record(node);
            if (t == type::hash) {
                made.cell.header = type::block;
                hash::index_block(&made.cell);
                v = made.cell;
            } else if (t == type::map) {
                if (!map::keys_ok(series::cells_of(node), n)) fail(h.at);
                Cell* c = series::cells_of(node);
                for (uint32_t k = 0; k < n; ++k) {
                    c[k].header &= ~cell::newline_flag;
                    uint8_t kt = cell::type_of(c + k);
                    if (k % 2 == 0 && kt >= type::word && kt <= type::get_word) cell::set_type(c + k, type::set_word);
                }
                NodeId table = hashtable::init(n / 2, node, hashtable::map_keys, 0);
                v = Cell{type::map, 0, node, table};
            } else {
                v = made.cell;
                v.header = t;
            }
        } else if (series::is_text(t)) {
            // Compact: e, the length shifted left 2 over log2 of the unit;
            // fixed: the unit in header bits 8-15, then the length.
            const uint8_t* e_at = pos;
            uint32_t unit;
            uint64_t n;
            if (fixed) {
                unit = h.bits >> 8 & 0xFF;
                n = raw();
                if (unit != 1 && unit != 2 && unit != 4) fail(h.at);
            } else {
                uint32_t e = varint();
                if ((e & 3) == 3) fail(e_at);
                unit = 1u << (e & 3);
                n = e >> 2;
            }
            if (n * unit > left()) fail(e_at);
            const uint8_t* data = pos;
            if (unit == 4)
                for (uint64_t k = 0; k < n; ++k)
                    if ((uint32_t(data[4 * k]) | uint32_t(data[4 * k + 1]) << 8 | uint32_t(data[4 * k + 2]) << 16 |
                         uint32_t(data[4 * k + 3]) << 24) > 0x10FFFF)
                        fail(e_at);
            NodeId node = alloc::alloc_units(n, unit);
            v = Cell{t, head, node, 0};
            fill(node, content(n * unit), n * unit);
        } else if (t == type::vector) {
            // Compact: one byte, the element type over log2 of its size, then
            // the count; fixed: the size in header bits 8-15, the count, the
            // element type.
            const uint8_t* f_at = pos;
            uint32_t width, et, n = 0;
            if (fixed) {
                width = h.bits >> 8 & 0xFF;
                n = count(width ? width : 1);
                f_at = pos;
                et = raw();
            } else {
                uint8_t fb = byte();
                width = 1u << (fb & 3);
                et = fb >> 2;
            }
            bool ok = ((et == type::char_ || et == type::integer) && (width == 1 || width == 2 || width == 4)) ||
                      (et == type::float_ && (width == 4 || width == 8)) || (et == type::percent && width == 8);
            if (!ok) fail(f_at);
            if (!fixed) n = count(width);
            else if (uint64_t(n) * width > left()) fail(f_at);
            collector::RootCell made;
            vector::make_at(&made.cell, n, uint8_t(et), width);
            made.cell.payload1 = head;
            v = made.cell;
            fill(v.payload2, content(uint64_t(n) * width), uint64_t(n) * width);
        } else {  // binary!, bitset!
            uint32_t n = count(1);
            if (t == type::binary) {
                collector::RootCell made;
                binary::make_at(&made.cell, n);
                made.cell.payload1 = head;
                v = made.cell;
            } else {
                collector::RootCell made;
                bitset::make_at(&made.cell, n, h.f);
                v = made.cell;
            }
            fill(v.payload2, content(n), n);
        }
        finish(parent, i, v, h.newline);
    }

    void image_record(Parent parent, const Head& h) {
        uint32_t head = h.f ? num() : 0;
        uint32_t i = append(parent);
        if (h.reference) {
            Cell r = resolve(read_path(true), h.at);
            if (!cell::is(&r, type::image) || head > image::pixel_count(&r)) fail(h.at);
            r.header = type::image;
            r.payload1 = head;
            finish(parent, i, r, h.newline);
            return;
        }
        const uint8_t* size_at = pos;
        uint32_t w, ht;
        if (fixed) {
            uint32_t size = raw();
            w = size & 0xFFFF, ht = size >> 16;
        } else {
            w = varint(), ht = varint();
            if (w > image_wic::max_side || ht > image_wic::max_side) fail(size_at);
        }
        uint64_t count = uint64_t(w) * ht;
        if (count * 4 > left() || count > image_wic::max_pixels || head > count) fail(size_at);
        collector::RootCell made;
        if (!count) {
            image::box(&made.cell, 0, w, ht);
        } else {
            image_wic::Bitmap* bitmap = nullptr;
            image_wic::Status s = image_wic::from_memory(w, ht, 0, content(count * 4), &bitmap);
            if (s == image_wic::Status::no_memory) error::fire(error::id::no_memory);
            if (s != image_wic::Status::ok) error::fire(error::id::bad_media);
            image::box_bitmap(&made.cell, bitmap, w, ht);
        }
        made.cell.payload1 = head;
        finish(parent, i, made.cell, h.newline);
    }

    void fill(NodeId node, const uint8_t* data, uint64_t n) {
        SeriesBuffer* b = alloc::buffer_of(node);
        std::memcpy(b->data() + b->offset, data, n);
        b->tail = b->offset + uint32_t(n);
    }

    // The body after the header: counts, the symbol table, the records.
    void body(const uint8_t* body_start) {
        pos = body_start;
        // Compact: varints, each read within 20 bytes. Fixed: words.
        auto field = [&](uint32_t* v) {
            if (fixed) {
                *v = raw();
                return;
            }
            const uint8_t* window = left() > 20 ? pos + 20 : end;
            if (!read_varint(&pos, window, v)) fail();
        };
        uint32_t roots, records_length;
        field(&roots);
        field(&records_length);
        if (flags & flag_symbols) {
            uint32_t n, size;
            field(&n);
            field(&size);
            if (uint64_t(n) * 4 > left()) fail();
            offsets = pos;
            pos += uint64_t(n) * 4;
            if (size > left() || (size && pos[size - 1] != 0)) fail();
            names = pos;
            names_size = size;
            pos += size;
            symbols.assign(n, 0);
        }
        if (records_length > left()) fail();
        end = pos + records_length;
        while (pos < end) record(target);
    }
};

// A boot image that cannot load ends the process with a failure status.
[[noreturn]] void boot_failure(const char* text) {
    std::fputs(text, stderr);
    sys::quit(1, 0);
}

}  // namespace

void decode(const uint8_t* data, Cell* target, bool codec, size_t length, const Cell* arg) {
    if (length < 8 || std::memcmp(data, magic, 6) != 0) {
        if (!codec) boot_failure("Error: Not a Kelbin file!\n");
        error::fire(error::id::invalid_data, arg);
    }
    StackMark mark;
    uint8_t flags = data[7];
    uint32_t root_base = series::cell_count(target->payload2);
    // A compressed body is expanded after a copy of the header, so byte
    // positions in errors count as in the expanded blob.
    struct Expanded {
        uint8_t* p = nullptr;
        ~Expanded() { mem::release(p); }
    } expanded;
    std::vector<uint8_t> whole;
    if (flags & flag_compressed) {
        size_t n = 0;
        expanded.p = lz::decompress(data + 8, length - 8, &n);
        if (!expanded.p) {
            if (!codec) boot_failure("Error: Kelbin compressed data corrupted!\n");
            error::fire(error::id::invalid_data, arg);
        }
        error::heap_guarded([&] {
            whole.assign(data, data + 8);
            whole.insert(whole.end(), expanded.p, expanded.p + n);
        });
        data = whole.data();
        length = whole.size();
    }
    auto run = [&](auto d) {
        d.codec = codec;
        d.flags = flags;
        d.target = target->payload2;
        d.root_base = root_base;
        d.start = data;
        d.end = data + length;
        d.body(data + 8);
    };
    if (flags & flag_compact) {
        run(Decoder<false>{});
    } else {
        // The fixed layout's root count and records length must be there.
        if (length < 16) error::fire(error::id::invalid_data, arg);
        run(Decoder<true>{});
    }
}

void load_boot(const uint8_t* image, size_t length, Cell* target) {
    collector::Pause pause;
    decode(image, target, false, length, nullptr);
}

void codec_decode(const Cell* payload, Cell* out) {
    const Cell p = *payload;
    uint8_t t = cell::type_of(&p);
    Cell bytes = p;
    if (t == type::file || t == type::url) {
        Cell* source = stack::push(&p);
        bytes = *actions::handler<actions::Read>(t, action::read, source)(source, nullptr, nullptr, true, false,
                                                                          false, nullptr);
    }
    if (!cell::is(&bytes, type::binary)) error::fire(error::id::invalid_data, &p);
    SeriesBuffer* b = alloc::buffer_of(bytes.payload2);
    int64_t from = series::clamped_index(&bytes);
    size_t n = b->tail - b->offset - size_t(from);
    if (n <= 10) error::fire(error::id::invalid_data, &p);
    // The blob is copied: decoding allocates, and the binary's buffer may move.
    std::vector<uint8_t> blob(b->data() + b->offset + from, b->data() + b->offset + from + n);
    block::make_at(out, 1);
    decode(blob.data(), out, true, blob.size(), &p);
    if (series::cell_count(out->payload2) == 1) *out = *series::cells_of(out->payload2);
}

}  // namespace kel::kelbin
