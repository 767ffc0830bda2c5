// Case folding: one procedure maps a code point to its upper- or lower-case
// form, and every case-insensitive operation of the runtime (comparison and
// search of text, hashing of symbols and map keys) folds through it, to upper
// case. The Basic Multilingual Plane is one read from a direct table of
// 65,536 entries per direction (0: the code point maps to itself), built by
// init from the generated pair lists; the few mappings above U+FFFF are
// looked up in sorted pair lists.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::case_folding {

struct CasePair {
    uint32_t from;
    uint32_t to;
};

// The simple one-to-one mappings of the Unicode Character Database, ascending
// by `from` (generated: unicode_tables.cpp).
extern const CasePair upper_pairs[];
extern const uint32_t upper_pairs_count;
extern const CasePair lower_pairs[];
extern const uint32_t lower_pairs_count;
extern const CasePair upper_supplementary[];
extern const uint32_t upper_supplementary_count;
extern const CasePair lower_supplementary[];
extern const uint32_t lower_supplementary_count;

struct Tables {
    uint32_t upper[0x10000];
    uint32_t lower[0x10000];
};
extern Tables tables;

// Fills the direct tables; runtime initialisation calls it before any symbol
// is interned or any text compared.
void init();

uint32_t change_case_supplementary(uint32_t cp, bool upper);

inline uint32_t change_case(uint32_t cp, bool upper) {
    if (cp <= 0xFFFF) [[likely]] {
        uint32_t to = upper ? tables.upper[cp] : tables.lower[cp];
        return to ? to : cp;
    }
    return change_case_supplementary(cp, upper);
}

// The worker of the uppercase and lowercase natives: changes a char! value,
// or the units of an any-string value from its index, in place. With part
// above 0, the cell that many cells after the value limits the change: an
// integer! count, or a position in the same series (same type and buffer);
// anything else raises script invalid-refine-arg.
void change_case_value(Cell* value, int32_t part, bool upper);

}  // namespace kel::case_folding
