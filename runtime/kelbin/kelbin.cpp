// The KELBIN encoder and decoder, both layouts; kelbin.hpp has the format.
//
// The encoder walks the value without allocating Kel memory (it writes into
// C++ vectors and makes the binary! at the end), so raw cell addresses stay
// good during the walk. The decoder allocates as it goes: it holds every
// series it fills as a node id, appends a placeholder cell to the parent
// before allocating a child, and re-reads buffers after each allocation.
//
// Paths: while encoding, every node (series, context) is recorded with the
// indexes leading to it from the top: the position in each enclosing
// container. A later sight writes that path. The decoder resolves a path by
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
#include "runtime/mem.hpp"
#include "runtime/lz.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/system.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::kelbin {
namespace {

constexpr uint8_t magic[6] = {'K', 'E', 'L', 'B', 'I', 'N'};
constexpr uint8_t lead_newline = 0xC0, lead_reference = 0xC1, lead_true = 0xC2, lead_false = 0xC3,
                  lead_definition = 0xC4, lead_copy = 0xFF;
constexpr uint8_t flag_f = 0x40;
// Fixed layout: the header word's bits (type id in bits 0-7), and the word
// that opens a path.
constexpr uint32_t fixed_reference = 1u << 19, fixed_money_negative = 1u << 22, fixed_complemented = 1u << 23,
                   fixed_handlers = 1u << 24, fixed_global = 1u << 25, fixed_definition = 1u << 25,
                   fixed_newline = 1u << 31;
constexpr uint32_t fixed_path = 255;
constexpr uint32_t max_path = 65536;
constexpr uint32_t money_negative = 0x4000;  // money! header: the sign

constexpr error::Id invalid_record{error::Category::script, "rb-invalid-record"};
constexpr error::Id invalid_data{error::Category::script, "invalid-data"};
constexpr error::Id no_codec{error::Category::access, "no-codec"};

bool no_codec_type(uint8_t t) {
    // image! has no datatype module yet: nothing can make or take its pixels.
    return t == type::routine || t == type::triple || t == type::handle || t == type::port ||
           t == type::event || t == type::image;
}

// A context record's flags (the compact flags byte: kind in bits 0-1, values
// on the stack 2, the context flag 3, values follow 4) in a fixed header
// word's bits 26-30, and back.
uint32_t fixed_context_bits(uint8_t flags) {
    return uint32_t(flags & 3) << 26 | uint32_t(flags & 8) << 25 | uint32_t(flags & 4) << 27 |
           uint32_t(flags & 16) << 26;
}
uint8_t context_flags_of(uint32_t word) {
    return uint8_t((word >> 26 & 3) | (word >> 28 & 1) << 3 | (word >> 29 & 1) << 2 | (word >> 30 & 1) << 4);
}

uint8_t log2_unit(uint32_t unit) { return unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3; }

bool owner_is_codec_context(NodeId ctx) {
    if (!ctx || ctx == context::global) return false;
    uint8_t t = cell::type_of(context::owner_cell(ctx));
    return t == type::object || t == type::function;
}

}  // namespace

// ---- byte writers

void append_bytes(std::vector<uint8_t>& out, const void* p, size_t n) {
    auto* b = static_cast<const uint8_t*>(p);
    out.insert(out.end(), b, b + n);
}

void append_int32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void write_varint(std::vector<uint8_t>& out, uint32_t v) {
    while (v >= 0x80) {
        out.push_back(uint8_t(v | 0x80));
        v >>= 7;
    }
    out.push_back(uint8_t(v));
}

void write_zigzag(std::vector<uint8_t>& out, int32_t v) {
    write_varint(out, (uint32_t(v) << 1) ^ uint32_t(v >> 31));
}

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

// ---- encoding

namespace {

// One walker writes both layouts. The compact one puts prefixes and a type
// byte with its flag F before the fields and numbers as varints; the fixed
// one a header word carrying the type and the per-type bits, and every
// number as a 32-bit word.
struct Encoder {
    bool fixed = false;
    std::vector<uint8_t> records;
    std::vector<uint8_t> strings;
    std::vector<uint32_t> offsets;
    std::unordered_map<uint32_t, uint32_t> symbols;  // symbol id -> index in the blob
    std::unordered_map<NodeId, std::vector<uint32_t>> nodes;  // node -> its path
    std::vector<uint32_t> path;
    uint32_t counter = 0;
    uint32_t newline = 0;  // fixed: the new-line bit for the next header word
    int depth = 0;

    void byte(uint8_t b) { records.push_back(b); }
    void varint(uint32_t v) { write_varint(records, v); }
    void zigzag(int32_t v) { write_zigzag(records, v); }
    void raw(uint32_t v) { append_int32(records, v); }
    // Counts, indexes and other unsigned numbers; signed ones.
    void num(uint32_t v) { fixed ? raw(v) : varint(v); }
    void snum(int32_t v) { fixed ? raw(uint32_t(v)) : zigzag(v); }
    // Bytes of a series; the fixed layout pads them to a multiple of 4.
    void data(const uint8_t* p, size_t n) {
        append_bytes(records, p, n);
        if (fixed)
            while (records.size() % 4) byte(0);
    }

    void type_byte(uint8_t t, bool f) { byte(uint8_t(t | (f ? flag_f : 0))); }

    // The start of a record: compact, the reference prefix and the type byte
    // with F; fixed, the header word with the new-line and reference bits and
    // the per-type bits.
    void head(uint8_t t, bool f, bool reference, uint32_t bits = 0) {
        if (fixed) {
            raw(t | bits | (reference ? fixed_reference : 0) | newline);
            newline = 0;
            return;
        }
        if (reference) byte(lead_reference);
        type_byte(t, f);
    }

    void symbol(uint32_t id) {
        auto [it, added] = symbols.try_emplace(id, uint32_t(symbols.size()));
        if (added) {
            offsets.push_back(uint32_t(strings.size()));
            std::string_view name = symbol::name(id);
            append_bytes(strings, name.data(), name.size());
            strings.push_back(0);
            // Fixed: every name starts at a multiple of 8.
            if (fixed)
                while (strings.size() % 8) strings.push_back(0);
        }
        num(it->second);
    }

    // The path of a node already written, or null.
    const std::vector<uint32_t>* seen(NodeId node) {
        auto it = nodes.find(node);
        return it == nodes.end() ? nullptr : &it->second;
    }
    void write_path(const std::vector<uint32_t>& p) {
        if (fixed) raw(fixed_path);
        num(uint32_t(p.size()));
        for (uint32_t i : p) num(i);
    }
    // Opens the level of a node's content: its path is recorded, and the
    // records inside it count from 0.
    void enter(NodeId node) {
        path.push_back(counter);
        if (node) nodes.emplace(node, path);
        counter = 0;
    }
    void leave() {
        counter = path.back();
        path.pop_back();
    }

    void cells(const Cell* first, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) value(first + i, true);
    }

    void context_record(NodeId ctx) {
        const Cell* cc = context::context_cell(ctx);
        bool on_stack = cc->header & cell::stack_values_flag;
        uint32_t n = context::word_count(ctx);
        bool values = false;
        if (!on_stack)
            for (uint32_t i = 0; i < n && !values; ++i) values = !cell::is(object::value_at(ctx, i), type::unset);
        uint8_t flags = uint8_t((cc->header & cell::context_kind_mask) >> 11) | (on_stack ? 4 : 0) |
                        ((cc->header & context::maker_flag) ? 8 : 0) | (values ? 16 : 0);
        if (fixed) {
            raw(fixed_context_bits(flags) | type::context);
        } else {
            byte(type::context);
            byte(flags);
        }
        num(n);
        for (uint32_t i = 0; i < n; ++i) symbol(context::word_at(ctx, i)->payload2);
        if (values)
            for (uint32_t i = 0; i < n; ++i) value(object::value_at(ctx, i), true);
    }

    // The content of an object after its record head.
    void object_body(const Cell* v) {
        snum(int32_t(v->payload2));
        if (v->payload3) {
            for (int k = 0; k < 2; ++k) {
                uint32_t at = series::cells_of(v->payload3)[k].payload2 >> 16;
                snum(at == object::no_handler ? -1 : int32_t(at));
            }
        }
        context_record(v->payload1);
    }

    void function_body(const Cell* v) {
        Cell spec{type::block, 0, v->payload2, 0};
        Cell body = *function::body_of(v);
        if (!cell::is(&body, type::block)) body = Cell{type::block, 0, 0, 0};
        num(uint32_t(series::cell_count(spec.payload2)));
        num(body.payload2 ? uint32_t(series::cell_count(body.payload2)) : 0);
        context_record(v->payload1);
        value(&spec, true);
        if (body.payload2) {
            value(&body, true);
        } else {
            head(type::block, false, false);
            if (fixed) raw(0);  // the head index
            num(0);
            ++counter;
        }
    }

    void value(const Cell* v, bool count) {
        if (++depth > max_depth) error::fire(error::id::too_deep);
        uint8_t t = cell::type_of(v);
        if (v->header & cell::newline_flag) {
            if (fixed) newline = fixed_newline;
            else byte(lead_newline);
        }
        switch (t) {
            case type::datatype: head(t, false, false); num(v->payload1); break;
            case type::unset: case type::none: head(t, false, false); break;
            case type::logic:
                if (fixed) head(t, false, false), raw(v->payload1 ? 1 : 0);
                else byte(v->payload1 ? lead_true : lead_false);
                break;
            case type::char_: head(t, false, false); num(v->payload2); break;
            case type::integer: {
                int32_t n = cell::integer(v);
                if (!fixed && n >= 0 && n <= 63) byte(uint8_t(0x80 + n));
                else head(t, false, false), snum(n);
                break;
            }
            case type::float_: case type::percent: case type::time:
                if (fixed) {
                    // The header on a multiple of 8 from the records' start.
                    if (records.size() % 8) raw(0);
                    head(t, false, false);
                    raw(v->payload3);
                    raw(v->payload2);
                } else {
                    real(v, t);
                }
                break;
            case type::pair: head(t, false, false); snum(int32_t(v->payload2)); snum(int32_t(v->payload3)); break;
            case type::point2d: head(t, false, false); raw(v->payload1); raw(v->payload2); break;
            case type::point3d: head(t, false, false); raw(v->payload1); raw(v->payload2); raw(v->payload3); break;
            case type::date: {
                bool has_time = v->payload1 & 0x10000;
                head(t, has_time, false);
                raw(v->payload1);
                if (fixed) raw(has_time ? v->payload3 : 0), raw(has_time ? v->payload2 : 0);
                else if (has_time) raw(v->payload2), raw(v->payload3);
                break;
            }
            case type::typeset: {
                head(t, false, false);
                if (fixed) {
                    raw(v->payload1), raw(v->payload2), raw(v->payload3);
                    break;
                }
                auto* b = reinterpret_cast<const uint8_t*>(&v->payload1);
                uint8_t n = 12;
                while (n && !b[n - 1]) --n;
                byte(n);
                append_bytes(records, b, n);
                break;
            }
            case type::tuple: {
                uint32_t n = tuple::length(v);
                head(t, n != 3, false, n << 8);
                if (fixed) {
                    append_bytes(records, tuple::bytes(v), 12);
                    break;
                }
                if (n != 3) byte(uint8_t(n));
                append_bytes(records, tuple::bytes(v), n);
                break;
            }
            case type::money: {
                bool negative = v->header & money_negative;
                head(t, negative, false, negative ? fixed_money_negative : 0);
                append_bytes(records, reinterpret_cast<const uint8_t*>(v) + 4, 12);
                break;
            }
            case type::issue: head(t, false, false); symbol(v->payload2); break;
            case type::word: case type::set_word: case type::lit_word: case type::get_word:
            case type::refinement: word(v, t); break;
            case type::block: case type::paren: case type::path: case type::lit_path:
            case type::set_path: case type::get_path: case type::hash: series(v, t); break;
            case type::string: case type::file: case type::url: case type::tag: case type::email:
            case type::ref: case type::binary: case type::vector: case type::bitset: case type::map:
                series(v, t); break;
            case type::object: case type::function: case type::error: {
                NodeId ctx = v->payload1;
                bool lookup = ctx != context::global;
                const std::vector<uint32_t>* p = lookup ? seen(ctx) : nullptr;
                bool f = t == type::object && v->payload3;
                head(t, f, p, f ? fixed_handlers : 0);
                if (p) {
                    write_path(*p);
                    break;
                }
                if (t == type::error) {
                    // Only an error with a code can be made again from it.
                    const Cell* code = error::field_of(v, 0);
                    if (!cell::is(code, type::integer)) error::fire(no_codec, v);
                    num(uint32_t(cell::integer(code)));
                    enter(lookup ? ctx : 0);
                    for (uint32_t i = 3; i < 9; ++i) value(error::field_of(v, i), true);
                    leave();
                    break;
                }
                enter(lookup ? ctx : 0);
                if (t == type::object) object_body(v);
                else function_body(v);
                leave();
                break;
            }
            case type::native: case type::action: {
                head(t, false, false);
                num(v->payload1);
                Cell spec{type::block, 0, v->payload2, 0};
                value(&spec, false);  // the native's own position leads to its spec
                break;
            }
            case type::op: {
                Cell source = *v;
                source.header = op::source_type(v);
                head(t, false, false, source.header << 16);
                value(&source, false);
                break;
            }
            default: {
                --depth;
                Cell d;
                cell::set_datatype(&d, t);
                if (no_codec_type(t)) error::fire(no_codec, v);
                error::fire(no_codec, &d);
            }
        }
        --depth;
        if (count) ++counter;
    }

    // Compact float!, percent!, time!: whole numbers as a zigzag integer.
    void real(const Cell* v, uint8_t t) {
        double d = cell::real(v);
        double scaled = t == type::percent ? d * 100.0 : d;
        double limit = t == type::percent ? 21474836.0 : 2147483000.0;
        bool whole = false;
        int32_t n = 0;
        if (std::isfinite(d) && d >= -limit && d <= limit && !(d == 0.0 && std::signbit(d))) {
            if (t == type::percent) {
                n = int32_t(scaled + (scaled < 0 ? -0.5 : 0.5));
                whole = double(n) / 100.0 == d;
            } else {
                n = int32_t(d);
                whole = double(n) == d;
            }
        }
        type_byte(t, whole);
        if (whole) zigzag(n);
        else raw(v->payload2), raw(v->payload3);
    }

    void word(const Cell* v, uint8_t t) {
        NodeId ctx = v->payload1;
        if (!owner_is_codec_context(ctx)) {
            head(t, false, false, fixed_global);
            symbol(v->payload2);
            if (fixed) raw(0xFFFFFFFF);  // the index: looked up
            return;
        }
        const std::vector<uint32_t>* p = seen(ctx);
        head(t, true, p);
        symbol(v->payload2);
        snum(int32_t(v->payload3));
        if (p) {
            write_path(*p);
            return;
        }
        // The owner follows inline; its path is the word's own position.
        const Cell owner = *context::owner_cell(ctx);
        uint8_t ot = cell::type_of(&owner);
        bool f = ot == type::object && owner.payload3;
        head(ot, f, false, f ? fixed_handlers : 0);
        enter(ctx);
        if (ot == type::object) object_body(&owner);
        else function_body(&owner);
        leave();
    }

    void series(const Cell* v, uint8_t t) {
        NodeId node = v->payload2;
        const std::vector<uint32_t>* p = seen(node);
        SeriesBuffer* b = alloc::buffer_of(node);
        bool indexed = t != type::bitset && t != type::map;
        bool complemented = t == type::bitset && (b->flags & bitset::complemented);
        bool f = t == type::bitset ? complemented : indexed && v->payload1 != 0;
        uint32_t bits = complemented ? fixed_complemented : 0;
        if (series::is_text(t) || t == type::vector) bits |= b->unit() << 8;
        head(t, f, p, bits);
        if (indexed && (f || fixed)) num(v->payload1);
        if (p) {
            write_path(*p);
            return;
        }
        enter(node);
        const uint8_t* bytes = b->data() + b->offset;
        uint32_t size = b->tail - b->offset;
        if (series::is_any_block(t)) {
            num(size / uint32_t(sizeof(Cell)));
            cells(reinterpret_cast<const Cell*>(bytes), size / uint32_t(sizeof(Cell)));
        } else if (t == type::map) {
            uint32_t n = size / uint32_t(sizeof(Cell));
            auto* c = reinterpret_cast<const Cell*>(bytes);
            uint32_t live = 0;
            for (uint32_t i = 0; i + 1 < n; i += 2) live += c[i + 1].header != 0;
            num(2 * live);
            for (uint32_t i = 0; i + 1 < n; i += 2)
                if (c[i + 1].header != 0) value(c + i, true), value(c + i + 1, true);
        } else if (series::is_text(t)) {
            uint32_t unit = b->unit();
            if (fixed) raw(size / unit);
            else varint((size / unit) << 2 | log2_unit(unit));
            data(bytes, size);
        } else if (t == type::vector) {
            uint32_t unit = b->unit();
            if (fixed) {
                raw(size / unit);
                raw(v->payload3);
            } else {
                byte(uint8_t(v->payload3 << 2 | log2_unit(unit)));
                varint(size / unit);
            }
            data(bytes, size);
        } else {  // binary!, bitset!
            num(size);
            data(bytes, size);
        }
        leave();
    }

    // The blob: header, body fields, symbol table, records.
    std::vector<uint8_t> assemble(uint8_t version, uint32_t roots) {
        std::vector<uint8_t> out;
        append_bytes(out, magic, 6);
        out.push_back(version);
        out.push_back((fixed ? 0 : flag_compact) | (offsets.empty() ? 0 : flag_symbols));
        auto field = [&](uint32_t v) { fixed ? append_int32(out, v) : write_varint(out, v); };
        field(roots);
        field(uint32_t(records.size()));
        if (!offsets.empty()) {
            field(uint32_t(offsets.size()));
            field(uint32_t(strings.size()));
            for (uint32_t o : offsets) append_int32(out, o);
            append_bytes(out, strings.data(), strings.size());
        }
        append_bytes(out, records.data(), records.size());
        return out;
    }
};

void to_binary(const std::vector<uint8_t>& bytes, Cell* out) {
    binary::make_at(out, uint32_t(bytes.size()));
    SeriesBuffer* b = alloc::buffer_of(out->payload2);
    std::memcpy(b->data() + b->offset, bytes.data(), bytes.size());
    b->tail = b->offset + uint32_t(bytes.size());
}

}  // namespace

void encode(const Cell* value, Cell* out) {
    Encoder e;
    e.fixed = true;
    e.value(value, true);
    to_binary(e.assemble(version_codec, 1), out);
}

void encode_b(const Cell* value, Cell* out) {
    Encoder e;
    e.value(value, true);
    to_binary(e.assemble(version_codec, 1), out);
}

std::vector<uint8_t> encode_boot(const Cell* block) {
    Encoder e;
    uint32_t n = uint32_t(block::ks_length_q(block));
    e.cells(block::ks_abs_at(block, series::clamped_index(block)), n);
    return e.assemble(version_boot, n);
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
        error::fire(invalid_record, &where);
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
            h.f = series::is_any_block(t) || series::is_text(t) || t == type::binary || t == type::vector;
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
            error::fire(no_codec, &d);
        }
        bool refable = series::is_any_block(t) || series::is_text(t) || t == type::binary || t == type::vector ||
                       t == type::bitset || t == type::map || t == type::object || t == type::function ||
                       t == type::error || word_type(t);
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
                if (b[0] && !money::currency_code(b[0])) fail(h.at);
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
        error::fire(invalid_data, arg);
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
            error::fire(invalid_data, arg);
        }
        whole.assign(data, data + 8);
        whole.insert(whole.end(), expanded.p, expanded.p + n);
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
        if (length < 16) error::fire(invalid_data, arg);
        run(Decoder<true>{});
    }
}

void load_boot(const uint8_t* image, size_t length, Cell* target) {
    collector::Pause pause;
    decode(image, target, false, length, nullptr);
}

void codec_encode(const Cell* data, bool compact, Cell* out) {
    if (compact) encode_b(data, out);
    else encode(data, out);
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
    if (!cell::is(&bytes, type::binary)) error::fire(invalid_data, &p);
    SeriesBuffer* b = alloc::buffer_of(bytes.payload2);
    int64_t from = series::clamped_index(&bytes);
    size_t n = b->tail - b->offset - size_t(from);
    if (n <= 10) error::fire(invalid_data, &p);
    // The blob is copied: decoding allocates, and the binary's buffer may move.
    std::vector<uint8_t> blob(b->data() + b->offset + from, b->data() + b->offset + from + n);
    block::make_at(out, 1);
    decode(blob.data(), out, true, blob.size(), &p);
    if (series::cell_count(out->payload2) == 1) *out = *series::cells_of(out->payload2);
}

}  // namespace kel::kelbin
