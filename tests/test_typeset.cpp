// typeset!: made from blocks of datatypes and typesets, molded by type
// name, compared, combined bit by bit.
#include <gtest/gtest.h>

#include "tests/support/kel_source.hpp"

using namespace kel;
using namespace kel::test;

namespace {

const NativeSpec specs[] = {
    {"make", type::action, action::make, "[type spec]"},
    {"mold", type::action, action::mold, "[value /only /all /flat /part limit]"},
    {"complement", type::action, action::complement, "[value]"},
    {"and~", type::action, action::and_, "[value1 value2]"},
    {"or~", type::action, action::or_, "[value1 value2]"},
    {"xor~", type::action, action::xor_, "[value1 value2]"},
    {"find", type::action, action::find,
     "[series value /part length /only /case /same /any /with wild /skip size /last /reverse /tail /match]"},
    {"reduce", type::native, 35, "[value [any-type!] /into out [block!]]"},
    {"sort", type::action, action::sort,
     "[series /case /skip size /compare comparator /part length /all /reverse /stable]"},
};

struct Typeset : KelSource {
    std::span<const NativeSpec> natives_used() const override { return specs; }
};

}  // namespace

TEST_F(Typeset, MakeMoldAndFind) {
    check({
        {"make typeset! []", "make typeset! []"},
        {"make typeset! [float! integer!]", "make typeset! [integer! float!]"},  // in type order
        {"n: make typeset! [integer!] make typeset! [n block!]", "make typeset! [block! integer!]"},
        {"mold/only make typeset! [integer! none!]", "\"none! integer!\""},
        {"make typeset! [1]", "error: invalid-arg"},
        {"make typeset! 1", "error: bad-to-arg"},
        {"t: make typeset! [integer!] make typeset! t", "make typeset! [integer!]"},
        {"find make typeset! [integer!] integer!", "true"},
        {"find make typeset! [integer!] block!", "false"},
        {"find make typeset! [integer!] 1", "error: invalid-arg"},
    });
}

TEST_F(Typeset, CompareAndCombine) {
    check({
        {"(make typeset! [integer!]) = make typeset! [integer!]", "true"},
        {"(make typeset! [integer!]) = make typeset! [block!]", "false"},
        {"(make typeset! [integer!]) < make typeset! [block!]", "error: invalid-compare"},
        // Sorting orders by the number of types.
        {"sort reduce [make typeset! [block! none!] make typeset! [integer!]]",
         "[make typeset! [integer!] make typeset! [none! block!]]"},
        {"or~ make typeset! [integer!] block!", "make typeset! [block! integer!]"},
        {"and~ make typeset! [integer! block!] make typeset! [block!]", "make typeset! [block!]"},
        {"xor~ make typeset! [integer! block!] make typeset! [block!]", "make typeset! [integer!]"},
        {"or~ make typeset! [integer!] 1", "error: invalid-arg"},
        // The complement of the empty set molds every registered type.
        {"(complement make typeset! []) = complement complement complement make typeset! []", "true"},
        {"find complement make typeset! [] integer!", "true"},
    });
}
