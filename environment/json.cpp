#include "environment/json.hpp"

#include "environment/routines.hpp"
#include "runtime/alloc.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"

namespace kel::environment {
namespace {

int32_t hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return int32_t(c - '0');
    if (c >= 'A' && c <= 'F') return int32_t(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int32_t(c - 'a' + 10);
    return -1;
}

// unescape str: one pass from the string's index to its tail, writing each
// decoded character back at a write position that never passes the read
// one (every escape is longer than what it gives). A character wider than
// the buffer's unit widens the buffer; indexes in units stay valid, so the
// pass goes on at the same place.
uint32_t json_unescape(const Call&) {
    Cell* str = stack::args;
    NodeId node = series::node_of(str);
    SeriesBuffer* b = alloc::buffer_of(node);
    uint32_t unit = series::unit_of(b);
    int64_t total = (b->tail - b->offset) / unit;
    int64_t r = series::clamped_index(str), w = r;
    auto at = [&](int64_t i) { return string::get_char(b->data() + b->offset + i * unit, unit); };
    auto fail = [&]() { error::fire(error::id::invalid_data, str); };
    // Four hexadecimal digits from i, or -1.
    auto hex4 = [&](int64_t i) -> int32_t {
        if (i + 4 > total) return -1;
        int32_t cp = 0;
        for (int k = 0; k < 4; ++k) {
            int32_t d = hex_digit(at(i + k));
            if (d < 0) return -1;
            cp = cp * 16 + d;
        }
        return cp;
    };
    while (r < total) {
        uint32_t c = at(r++);
        if (c == '\\') {
            if (r >= total) fail();
            switch (uint32_t e = at(r++)) {
            case '"': case '\\': case '/': c = e; break;
            case 'b': c = 0x08; break;
            case 'f': c = 0x0C; break;
            case 'n': c = 0x0A; break;
            case 'r': c = 0x0D; break;
            case 't': c = 0x09; break;
            case 'u': {
                int32_t cp = hex4(r);
                if (cp < 0) fail();
                r += 4;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    // A high surrogate needs its low half as the next escape.
                    int32_t low = r + 6 <= total && at(r) == '\\' && at(r + 1) == 'u' ? hex4(r + 2) : -1;
                    if (low < 0xDC00 || low > 0xDFFF) fail();
                    r += 6;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                c = uint32_t(cp);
                break;
            }
            default: fail();
            }
        }
        if (string::unit_for(c) > unit) {
            b = string::widen_to(node, string::unit_for(c));
            unit = series::unit_of(b);
        }
        string::put_char(b->data() + b->offset + w * unit, unit, c);
        ++w;
    }
    b->tail = uint32_t(b->offset + w * unit);
    stack::set_result(str);
    return 0;
}

}  // namespace

void make_json_routines() {
    define_routine("json-unescape",
                   R"spec([str [string!] "(modified)" return: [string!]])spec",
                   json_unescape);
}

}  // namespace kel::environment
