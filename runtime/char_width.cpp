// Display width: how many terminal columns a code point takes, for console
// painting and caret arithmetic. Control characters take one column (they
// are shown as something), combining and format characters none, East Asian
// wide and full-width characters two; the ambiguous-width variant also gives
// two to the East Asian ambiguous characters, as a CJK terminal shows them.
// The range tables are generated (unicode_tables.cpp); lookups run once per
// character painted, so they search by halves.
#include "runtime/unicode.hpp"

namespace kel::unicode {

bool in_ranges(uint32_t cp, const uint32_t* table, uint32_t count) {
    if (count < 2 || cp < table[0] || cp > table[count - 1]) return false;
    // The last range whose low end is at or below cp is the only candidate.
    uint32_t lo = 0, hi = count / 2;  // ranges [lo, hi) still in question; range lo starts <= cp
    while (hi - lo > 1) {
        uint32_t mid = (lo + hi) / 2;
        if (table[2 * mid] <= cp) lo = mid;
        else hi = mid;
    }
    return cp <= table[2 * lo + 1];
}

int char_width(uint32_t cp) {
    if (cp == 0) return 0;
    if (cp < 32 || (cp >= 127 && cp < 160)) return 1;
    if (in_ranges(cp, zero_width_ranges, zero_width_ranges_count)) return 0;
    if (in_ranges(cp, wide_ranges, wide_ranges_count)) return 2;
    return 1;
}

int char_width_ambiguous_wide(uint32_t cp) {
    if (in_ranges(cp, ambiguous_ranges, ambiguous_ranges_count)) return 2;
    return char_width(cp);
}

}  // namespace kel::unicode
