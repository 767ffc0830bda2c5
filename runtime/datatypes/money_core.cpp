// The arithmetic cores under money!: add, subtract, multiply, divide and
// remainder on two money cells, exact on their 22 digits (17 integer, 5
// decimal). A cell's digits read as one whole number are the amount in
// units of 0.00001, below 10^22, so a product of two amounts needs at most
// 44 digits and a dividend shifted by five places 27: the cores work in
// 128-bit integers, which hold 38 digits. The product stays within that
// because multiplication first refuses operands whose significant digits
// add up to more than 28, as the digit-by-digit method refuses them for its
// 28-position work area; division likewise refuses a dividend and divisor
// whose counts could give a quotient of more than 22 digits. Both refusals
// are part of the type's behaviour (they turn away some results that would
// fit), so they are kept exactly.
//
// Products and quotients are cut after the fifth decimal, never rounded; a
// nonzero one that cuts to zero, and any result of 10^17 or more, raise
// script type-limit. The cores know nothing of currencies: they write the
// result over one operand cell and answer it, and the caller settles the
// currency.
#include <cstdint>

#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/error.hpp"

namespace kel::money {
namespace {

using u128 = unsigned __int128;

// 10^22 units: the first magnitude money cannot hold.
constexpr u128 limit_units = u128(100'000'000'000'000'000) * 100'000;
constexpr u128 unit_scale = 100'000;

[[noreturn]] void fire_limit() {
    Cell kind;
    cell::set_datatype(&kind, type::money);
    error::fire(error::id::type_limit, &kind);
}

u128 magnitude(const Cell* m) {
    __int128 u = units(m);
    return u128(u < 0 ? -u : u);
}

// Writes a magnitude and a sign over a cell's digits, keeping its currency.
Cell* put(Cell* out, u128 mag, bool negative) {
    if (mag >= limit_units) fire_limit();
    box_units(out, negative ? -__int128(mag) : __int128(mag), currency_of(out));
    return out;
}

Cell* flipped(Cell* m) {
    m->header ^= sign_mask;
    return m;
}

}  // namespace

int significant_digits(const Cell* m) {
    const uint8_t* b = reinterpret_cast<const uint8_t*>(m) + 5;
    for (int i = 0; i < 11; ++i)
        if (b[i]) return digits - 2 * i - (b[i] >> 4 ? 0 : 1);
    return 1;
}

Cell* core_add(Cell* a, Cell* b) {
    int32_t sa = sign(a), sb = sign(b);
    if (sb == 0) return a;
    if (sa == 0) return b;
    __int128 r = units(a) + units(b);
    return put(a, u128(r < 0 ? -r : r), r < 0);
}

// Two zeros give the first one: a difference of zeros is never made
// negative by flipping the second.
Cell* core_subtract(Cell* a, Cell* b) {
    int32_t sa = sign(a), sb = sign(b);
    if (sb == 0) return a;
    if (sa == 0) return flipped(b);
    __int128 r = units(a) - units(b);
    return put(a, u128(r < 0 ? -r : r), r < 0);
}

Cell* core_multiply(Cell* a, Cell* b) {
    int32_t sa = sign(a), sb = sign(b);
    if (sa == 0) return a;
    if (sb == 0) return b;
    if (significant_digits(a) + significant_digits(b) > 28) fire_limit();
    u128 p = magnitude(a) * magnitude(b) / unit_scale;
    if (p == 0) fire_limit();
    return put(a, p, sa != sb);
}

Cell* core_divide(Cell* a, Cell* b, bool remainder) {
    int32_t sa = sign(a), sb = sign(b);
    if (sb == 0) error::fire(error::id::zero_divide);
    if (sa == 0) return a;
    if (significant_digits(a) + 6 - significant_digits(b) > digits) fire_limit();
    u128 x = magnitude(a), y = magnitude(b);
    if (remainder) return put(a, x % y, sa < 0);
    u128 q = x * unit_scale / y;
    if (q == 0) fire_limit();
    return put(a, q, sa != sb);
}

Cell* core_dispatch(Cell* a, Cell* b, int op) {
    switch (op) {
        case integer::op::add: return core_add(a, b);
        case integer::op::subtract: return core_subtract(a, b);
        case integer::op::multiply: return core_multiply(a, b);
        case integer::op::divide: return core_divide(a, b, false);
        case integer::op::remainder: return core_divide(a, b, true);
        default: {
            error::fire_invalid_type(cell::type_of(a));
        }
    }
}

}  // namespace kel::money
