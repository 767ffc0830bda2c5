#include "runtime/words.hpp"

#include "runtime/context.hpp"
#include "runtime/root.hpp"
#include "runtime/symbol.hpp"

namespace kel::words {

Symbols symbols;
Words words;
Refinements refinements;
const Cell* issue_ooo = nullptr;

namespace {
const Cell* global_word(const char* name) { return context::find_or_add_global(symbol::make(name)); }

// An unbound word-family cell of the symbol, kept in the root block.
const Cell* unbound(uint8_t t, const char* name) {
    Cell c{t, 0, symbol::make(name), uint32_t(-1)};
    return root::record(&c);
}
}  // namespace

void init() {
#define KEL_MAKE(member, name) symbols.member = symbol::make(name);
    KEL_WELL_KNOWN_SYMBOLS(KEL_MAKE)
#undef KEL_MAKE
#define KEL_MAKE(member, from) words.member = context::find_or_add_global(symbols.from);
    KEL_WELL_KNOWN_SYMBOL_WORDS(KEL_MAKE)
#undef KEL_MAKE
#define KEL_MAKE(member, name) words.member = global_word(name);
    KEL_WELL_KNOWN_WORDS_1(KEL_MAKE)
    words.end = context::find_or_add_global(symbols.end);
    KEL_WELL_KNOWN_WORDS_2(KEL_MAKE)
#undef KEL_MAKE
}

void init_refinements() {
#define KEL_MAKE(member, name) refinements.member = unbound(type::refinement, name);
    KEL_WELL_KNOWN_REFINEMENTS(KEL_MAKE)
#undef KEL_MAKE
}

void init_extra() { issue_ooo = unbound(type::issue, "ooo"); }

}  // namespace kel::words
