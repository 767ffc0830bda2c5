// Text and comparison of pair!, point2D! and point3D!.
#include "runtime/datatypes/pair.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "runtime/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/string.hpp"

namespace kel {
namespace {

int32_t put_text(Cell* out, const std::string& t, int32_t limit) {
    string::append_ascii(out, t.data(), t.size());
    return limit - int32_t(t.size());
}

float coordinate(const Cell* p, int i) {
    const uint32_t w[3] = {p->payload1, p->payload2, p->payload3};
    return std::bit_cast<float>(w[i]);
}

// A pair taken as a point2D!, for comparison with one.
Cell as_point2d(const Cell* v) {
    Cell p;
    return cell::is(v, type::pair) ? *point2d::box(&p, int32_t(v->payload2), int32_t(v->payload3)) : *v;
}

int32_t pair_text(const Cell* v, Cell* out, int32_t limit) {
    return put_text(out, std::to_string(int32_t(v->payload2)) + "x" + std::to_string(int32_t(v->payload3)), limit);
}
int32_t pair_form(const Cell* v, Cell* out, const Cell*, int32_t limit) { return pair_text(v, out, limit); }
int32_t pair_mold(const Cell* v, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return pair_text(v, out, limit);
}

int32_t sign_of(int64_t d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

int32_t point_compare(const Cell* a, const Cell* b, int32_t op, int n);

int32_t pair_compare(const Cell* a, const Cell* b, int32_t op) {
    if (cell::is(b, type::point2d)) {
        Cell p = as_point2d(a);
        return point_compare(&p, b, op, 2);
    }
    if (!cell::is(b, type::pair)) return -2;
    int32_t x = sign_of(int64_t(int32_t(a->payload2)) - int32_t(b->payload2));
    return x ? x : sign_of(int64_t(int32_t(a->payload3)) - int32_t(b->payload3));
}

int32_t point_text(const Cell* v, Cell* out, int32_t limit, int n) {
    std::string t = "(";
    for (int i = 0; i < n; ++i) {
        if (i) t += ", ";
        t += float_::form_float(coordinate(v, i), float_::kind::coordinate);
    }
    return put_text(out, t + ")", limit);
}
int32_t point2d_form(const Cell* v, Cell* out, const Cell*, int32_t limit) { return point_text(v, out, limit, 2); }
int32_t point2d_mold(const Cell* v, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return point_text(v, out, limit, 2);
}
int32_t point3d_form(const Cell* v, Cell* out, const Cell*, int32_t limit) { return point_text(v, out, limit, 3); }
int32_t point3d_mold(const Cell* v, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return point_text(v, out, limit, 3);
}

int32_t point_compare(const Cell* a, const Cell* b0, int32_t op, int n) {
    Cell b = n == 2 ? as_point2d(b0) : *b0;
    if (cell::type_of(&b) != cell::type_of(a)) return -2;
    bool near = true, exact = true, same = true;
    for (int i = 0; i < n; ++i) {
        float x = coordinate(a, i), y = coordinate(&b, i);
        near = near && float_::near_equal32(x, y);
        exact = exact && x == y;
        same = same && std::bit_cast<uint32_t>(x) == std::bit_cast<uint32_t>(y);
    }
    switch (op) {
        case 0: case 1: return near ? 0 : 1;
        case 2: return exact ? 0 : 1;
        case 9: return same ? 0 : 1;
        default:
            for (int i = 0; i < n; ++i) {
                float x = coordinate(a, i), y = coordinate(&b, i);
                if (i < n - 1 && float_::near_equal32(x, y)) continue;
                double d = double(x) - double(y);
                return d < 0 ? -1 : d > 0 ? 1 : 0;
            }
            return 0;
    }
}
int32_t point2d_compare(const Cell* a, const Cell* b, int32_t op) { return point_compare(a, b, op, 2); }
int32_t point3d_compare(const Cell* a, const Cell* b, int32_t op) { return point_compare(a, b, op, 3); }

template <class Form, class Mold, class Compare>
void register_row(uint8_t t, const char* name, Form form, Mold mold, Compare compare) {
    datatype::Row row(datatype::unsupported);
    row.set(action::form, form).set(action::mold, mold).set(action::compare, compare);
    datatype::register_type({t, 0, name, row.handlers});
}

}  // namespace

void pair::register_type() { register_row(type::pair, "pair!", &pair_form, &pair_mold, &pair_compare); }
void point2d::register_type() {
    register_row(type::point2d, "point2D!", &point2d_form, &point2d_mold, &point2d_compare);
}
void point3d::register_type() {
    register_row(type::point3d, "point3D!", &point3d_form, &point3d_mold, &point3d_compare);
}

}  // namespace kel
