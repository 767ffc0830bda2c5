// Data set, case, coercion and text encoding natives: union, intersect,
// unique, difference, exclude, complement?, dehex, enhex, uppercase,
// lowercase, debase, enbase and as. The natives choose the worker by type
// and check the arguments; the set operations, case tables, URL escapes
// and base-N codecs belong to the datatypes.
#include <string>
#include <vector>

#include "runtime/actions.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/time.hpp"
#include "runtime/datatypes/typeset.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/error.hpp"
#include "runtime/natives/entries.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/typesets.hpp"

namespace kel::natives {
namespace {

Cell* arg_of(const Call& call, int i) { return call.refs[i] >= 0 ? stack::args + call.refs[i] : nullptr; }

// ---- sets

bool block_family(uint8_t t) { return t == type::block || t == type::hash; }

// The shared worker of the five set natives (op 8 unique, 9 union, 10
// intersect, 11 exclude, 12 difference); the new set replaces argument 0.
uint32_t set_op(const Call& call, int32_t op) {
    enum { case_, skip };
    Cell* a = stack::args;
    uint8_t ta = cell::type_of(a);
    const Cell* b = op == 8 ? nullptr : a + 1;
    if (b) {
        uint8_t tb = cell::type_of(b);
        if (tb != ta && !(block_family(ta) && block_family(tb))) {
            Cell want = cell::datatype_value(tb), got = cell::datatype_value(ta);
            error::fire(error::id::expect_val, &want, &got);
        }
    }
    bool case_flag = call.refs[case_] >= 0;
    Cell* size = arg_of(call, skip);
    switch (ta) {
        case type::block:
        case type::hash: block::do_set_op(a, b, case_flag, size, op); break;
        case type::string: string::do_set_op(a, b, case_flag, size, op); break;
        case type::bitset:
            if (op == 8) error::fire_expect_arg(a, "set");
            bitset::do_bitwise(op);
            break;
        case type::typeset:
            if (op == 8) error::fire_expect_arg(a, "set");
            typeset::do_bitwise(op);
            break;
        case type::date:
            if (op != 12) error::fire_expect_arg(a, "set1");
            {
                // The time between the two instants: the dates are local,
                // the stored times are their UTC times of day.
                double days = double(date::to_days(a->payload1)) - double(date::to_days(b->payload1));
                time::box(a, days * 86400.0 + cell::real(a) - cell::real(b));
            }
            break;
        default: error::fire_expect_arg(a, op == 8 ? "set" : "set1");
    }
    stack::keep();
    return 0;
}

}  // namespace

uint32_t unique(const Call& call) { return set_op(call, 8); }
uint32_t union_(const Call& call) { return set_op(call, 9); }
uint32_t intersect(const Call& call) { return set_op(call, 10); }
uint32_t exclude(const Call& call) { return set_op(call, 11); }
uint32_t difference(const Call& call) { return set_op(call, 12); }

uint32_t complement_q(const Call&) {
    Cell* a = stack::args;
    if (!cell::is(a, type::bitset)) error::fire_expect_arg(a, "bits");
    cell::set_logic(a, bitset::complemented_q(a));
    stack::keep();
    return 0;
}

// ---- URL escapes

namespace {

// The unreserved characters kept by enhex of a string!; other text types
// also keep the separators of a URL.
bool url_keeps(uint8_t c, bool narrow) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    if (c == '-' || c == '.' || c == '_' || c == '~') return true;
    if (narrow || c >= 0x80) return false;
    for (const char* p = "!#$&'()*+,/:=?@"; *p; ++p)
        if (c == uint8_t(*p)) return true;
    return false;
}

}  // namespace

uint32_t dehex(const Call&) {
    Cell* a = stack::args;
    if (!series::is_text(cell::type_of(a))) error::fire_expect_arg(a, "value");
    std::string bytes = string::to_utf8(a);
    std::u32string text;
    url::decode_utf8(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), text);
    Cell* out = stack::push_slot();
    string::make(out, uint32_t(bytes.size()));
    string::append_text(out, text);
    stack::set_result(out);
    stack::keep();
    return 0;
}

uint32_t enhex(const Call&) {
    Cell* a = stack::args;
    if (!series::is_text(cell::type_of(a))) error::fire_expect_arg(a, "value");
    bool narrow = cell::is(a, type::string);
    std::string bytes = string::to_utf8(a), text;
    constexpr char hex[] = "0123456789ABCDEF";
    for (char ch : bytes) {
        uint8_t c = uint8_t(ch);
        if (url_keeps(c, narrow)) {
            text += char(c);
        } else {
            text += '%';
            text += hex[c >> 4];
            text += hex[c & 15];
        }
    }
    Cell* out = stack::push_slot();
    string::make(out, uint32_t(text.size()));
    string::append_ascii(out, text.data(), text.size());
    stack::set_result(out);
    stack::keep();
    return 0;
}

// ---- case

namespace {

// uppercase and lowercase: string /part limit
uint32_t change_case(const Call& call, bool upper) {
    enum { part };
    Cell* a = stack::args;
    uint8_t t = cell::type_of(a);
    if (t != type::char_ && !series::is_text(t)) error::fire_expect_arg(a, "string");
    case_folding::change_case_value(a, call.refs[part] >= 0 ? call.refs[part] : 0, upper);
    stack::keep();
    return 0;
}

}  // namespace

uint32_t uppercase(const Call& call) { return change_case(call, true); }
uint32_t lowercase(const Call& call) { return change_case(call, false); }

// ---- base-N text

namespace {

// The base of /base, or 64; another value raises invalid-arg.
int32_t base_of(const Call& call, bool has_58) {
    enum { base_ };  // debase and enbase: /base base-value
    Cell* b = arg_of(call, base_);
    if (!b) return 64;
    int32_t base = cell::is(b, type::integer) ? cell::integer(b) : 0;
    if (base != 64 && base != 16 && base != 2 && !(has_58 && base == 58)) error::fire(error::id::invalid_arg, b);
    return base;
}

}  // namespace

uint32_t debase(const Call& call) {
    Cell* a = stack::args;
    if (!cell::is(a, type::string)) error::fire_expect_arg(a, "value");
    int32_t base = base_of(call, true);
    std::vector<uint8_t> bytes;
    // The decoders gather into C++ memory: the text may be read in place.
    SeriesBuffer* b = alloc::buffer_of(a->payload2);
    uint32_t unit = b->unit();
    const uint8_t* text = b->data() + b->offset + uint32_t(series::clamped_index(a)) * unit;
    uint32_t n = uint32_t(series::length_from(a));
    bool ok = base == 64   ? binary::base64_decode(text, n, unit, bytes)
              : base == 58 ? binary::base58_decode(text, n, unit, bytes)
              : base == 16 ? binary::base16_decode(text, n, unit, bytes)
                           : binary::base2_decode(text, n, unit, bytes);
    if (!ok) {
        cell::set_none(a);
    } else {
        binary::load_at(stack::push_slot(), bytes.data(), bytes.size());
        stack::set_result(stack::last());
    }
    stack::keep();
    return 0;
}

uint32_t enbase(const Call& call) {
    Cell* a = stack::args;
    uint8_t t = cell::type_of(a);
    if (t != type::binary && t != type::string) error::fire_expect_arg(a, "value");
    int32_t base = base_of(call, true);
    std::vector<uint8_t> bytes;
    if (t == type::binary) {
        bytes.assign(binary::ks_head(a), binary::ks_head(a) + binary::ks_length_q(a));
    } else {
        std::string s = string::to_utf8(a);
        bytes.assign(s.begin(), s.end());
    }
    // The output bound in 32 bits, as a caller of the encoders sizes it.
    uint64_t n = bytes.size();
    uint64_t room = base == 64   ? n / 3 * 4 + n % 3 * 4 / 3 + n / 32 * 2 + 5
                    : base == 58 ? n * 2
                    : base == 16 ? n * 2 + n / 32 + 32
                                 : n * 8 + n / 8 * 2 + 4;
    if (room > 0x7FFFFFFF) error::fire(error::id::too_long);
    std::string text;
    text.reserve(size_t(room));
    switch (base) {
        case 64: binary::base64_encode(bytes.data(), bytes.size(), text); break;
        case 58: binary::base58_encode(bytes.data(), bytes.size(), text); break;
        case 16: binary::base16_encode(bytes.data(), bytes.size(), text); break;
        default: binary::base2_encode(bytes.data(), bytes.size(), text); break;
    }
    Cell* out = stack::push_slot();
    string::make(out, uint32_t(text.size()));
    string::append_ascii(out, text.data(), text.size());
    stack::set_result(out);
    stack::keep();
    return 0;
}

// ---- as

namespace {

// any-block! but hash!: the types `as` converts among.
bool list_family(uint8_t t) { return typesets::is_any_block(t) && t != type::hash; }

}  // namespace

uint32_t as(const Call&) {
    Cell* a = stack::args;
    Cell spec = a[1];
    uint8_t target = cell::is(a, type::datatype) ? uint8_t(a->payload1) : cell::type_of(a);
    uint8_t source = cell::type_of(&spec);
    if (!(list_family(target) && list_family(source)) && !(series::is_text(target) && series::is_text(source))) {
        Cell from = cell::datatype_value(source), to = cell::datatype_value(target);
        error::fire(error::id::not_same_class, &from, &to);
    }
    cell::set_type(&spec, target);
    stack::set_result(&spec);
    stack::keep();
    return 0;
}

}  // namespace kel::natives
