// The KELBIN encoder, both layouts; kelbin.hpp has the format.
//
// The encoder walks the value without allocating Kel memory (it writes into
// C++ vectors and makes the binary! at the end), so raw cell addresses stay
// good during the walk.
//
// Paths: every node (series, context) is recorded with the indexes leading
// to it from the top: the position in each enclosing container. A later
// sight writes that path.
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
            case type::image: image_record(v); break;
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
                    if (!cell::is(code, type::integer)) error::fire(error::id::no_codec, v);
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
                if (no_codec_type(t)) error::fire(error::id::no_codec, v);
                error::fire(error::id::no_codec, &d);
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

    // An image: its index, its size, then its pixels as stored (B, G, R, A
    // each). Compact: the index only when not 0, the sides as two varints;
    // fixed: the index and the size word.
    void image_record(const Cell* v) {
        NodeId node = v->payload2;
        const std::vector<uint32_t>* p = node ? seen(node) : nullptr;
        bool f = v->payload1 != 0;
        head(type::image, f, p);
        if (f || fixed) num(v->payload1);
        if (p) {
            write_path(*p);
            return;
        }
        enter(node);
        uint32_t w = image::width_of(v), h = image::height_of(v);
        if (fixed) {
            raw(v->payload3);
        } else {
            varint(w);
            varint(h);
        }
        if (node) {
            image::PixelLock lock(v, false);
            for (uint32_t y = 0; y < h; ++y) append_bytes(records, lock.row(y), size_t(w) * 4);
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

void codec_encode(const Cell* data, bool compact, Cell* out) {
    if (compact) encode_b(data, out);
    else encode(data, out);
}

}  // namespace kel::kelbin
