// hash! as Kel code: making and molding, and find through the table after
// every kind of edit, checked against a scan of the same cells.
#include <gtest/gtest.h>

#include "runtime/datatypes/block.hpp"
#include "runtime/hashtable.hpp"
#include "tests/support/kel_source.hpp"

using namespace kel;
using namespace kel::test;

namespace {

constexpr uint32_t agree_slot = 112;

// agree h: true when, for every cell of h, the table finds the first cell
// equal to it (the first, last and every skip-2 match alike) exactly where a
// scan of the cells finds it, and the table holds one entry per cell.
uint32_t agree_native(const Call&) {
    const Cell h = *stack::args;
    bool ok = cell::is(&h, type::hash) && hashtable::record(h.payload3)->count > 0 == (series::total_length(&h) > 0);
    int32_t n = series::total_length(&h);
    for (int32_t i = 0; ok && i < n; ++i) {
        const Cell key = series::cells_of(h.payload2)[i];
        int32_t first = -1, last = -1;
        for (int32_t j = 0; j < n; ++j)
            if (actions::compare_raw(series::cells_of(h.payload2) + j, &key, 0) == 0 &&
                cell::type_of(series::cells_of(h.payload2) + j) == cell::type_of(&key)) {
                if (first < 0) first = j;
                last = j;
            }
        Cell* f = hashtable::get(h.payload3, &key, 0, 1, 0, false, false);
        Cell* l = hashtable::get(h.payload3, &key, 0, 1, 0, true, false);
        Cell* base = series::cells_of(h.payload2);
        ok = f == base + first && l == base + last;
    }
    logic::set_last(ok);
    stack::keep();
    return 0;
}

const NativeSpec specs[] = {
    {"make", type::action, action::make, "[type spec]"},
    {"to", type::action, action::to, "[type spec]"},
    {"mold", type::action, action::mold, "[value /only /all /flat /part limit]"},
    {"form", type::action, action::form, "[value /part limit]"},
    {"reduce", type::native, 35, "[value [any-type!] /into out [block!]]"},
    {"head", type::action, action::head, "[series]"},
    {"tail", type::action, action::tail, "[series]"},
    {"next", type::action, action::next, "[series]"},
    {"index?", type::action, action::index_q, "[series]"},
    {"at", type::action, action::at, "[series index]"},
    {"find", type::action, action::find,
     "[series value /part length /only /case /same /any /with wild /skip size /last /reverse /tail /match]"},
    {"select", type::action, action::select,
     "[series value /part length /only /case /same /any /with wild /skip size /last /reverse]"},
    {"put", type::action, action::put, "[series key value /case]"},
    {"append", type::action, action::append, "[series value /part length /only /dup count]"},
    {"insert", type::action, action::insert, "[series value /part length /only /dup count]"},
    {"change", type::action, action::change, "[series value /part range /only /dup count]"},
    {"remove", type::action, action::remove, "[series /part length /key key-arg]"},
    {"reverse", type::action, action::reverse, "[series /part length /skip size]"},
    {"take", type::action, action::take, "[series /part length /deep /last]"},
    {"move", type::action, action::move, "[origin target /part length]"},
    {"swap", type::action, action::swap, "[series1 series2]"},
    {"trim", type::action, action::trim, "[series /head /tail /auto /lines /all /with str]"},
    {"sort", type::action, action::sort,
     "[series /case /skip size /compare comparator /part length /all /reverse /stable]"},
    {"clear", type::action, action::clear, "[series]"},
    {"poke", type::action, action::poke, "[series index value]"},
    {"copy", type::action, action::copy, "[value /part length /deep /types kind]"},
    {"agree", type::native, agree_slot + 1, "[series]"},
};

struct Hash : KelSource {
    std::span<const NativeSpec> natives_used() const override { return specs; }
    void SetUp() override {
        natives::table[agree_slot] = agree_native;
        KelSource::SetUp();
    }
    void TearDown() override {
        natives::table[agree_slot] = nullptr;
        KelSource::TearDown();
    }
};

}  // namespace

TEST_F(Hash, MakeAndText) {
    check({
        {"make hash! 0", "make hash! []"},
        {"make hash! [1 2 3]", "make hash! [1 2 3]"},
        {"make hash! next [1 2 3]", "make hash! [2 3]"},
        {"to hash! [a b]", "make hash! [a b]"},
        {"to hash! 1", "make hash! [1]"},
        {"make hash! make hash! [1]", "make hash! [1]"},
        {"form make hash! [1 2]", "\"1 2\""},
        {"mold/only make hash! [1 2]", "\"1 2\""},
        {"copy/part make hash! [1 2 3] 2", "make hash! [1 2]"},
        {"agree copy/part make hash! [1 2 3 1] 3", "true"},
        {"agree copy next make hash! [1 2 1]", "true"},
    });
}

TEST_F(Hash, MoldLoadsBack) {
    for (const char* source : {"make hash! [1 a [b] 2.5]", "make hash! []"}) {
        std::string molded = eval(source);
        EXPECT_EQ(eval(molded.c_str()), molded) << source;
    }
}

TEST_F(Hash, Find) {
    check({
        {"find make hash! [1 2 1 3] 1", "make hash! [1 2 1 3]"},
        {"index? find/last make hash! [1 2 1 3] 1", "3"},
        {"find make hash! [1 2 3] 4", "none"},
        {"find next make hash! [1 2 3] 1", "none"},
        {"h: make hash! [1 2 1 2] find/reverse at h 4 1", "make hash! [1 2]"},
        {"find/skip make hash! [1 2 2 1] 2 2", "make hash! [2 1]"},
        {"find/tail make hash! [a b c] 'b", "make hash! [c]"},
        {"select make hash! [a 1 b 2] 'b", "2"},
        {"find make hash! [a B c] 'b", "make hash! [B c]"},
        {"find/case make hash! [a B c] 'b", "none"},
        {"find make hash! [1 2 3] [2 3]", "make hash! [2 3]"},  // a run of cells: the scan
        {"find make hash! [1 a 3] word!", "make hash! [a 3]"},
    });
}

// After each edit, every cell is found where a scan finds it.
TEST_F(Hash, FindsAfterEdits) {
    check({
        {"h: make hash! [1 2 3] append h [4 1] agree h", "true"},
        {"h: make hash! [1 2 3] insert next h [9 2] reduce [agree h head h]", "[true make hash! [1 9 2 2 3]]"},
        {"h: make hash! [1 2 3 1] insert/dup h 7 3 agree h", "true"},
        {"h: make hash! [1 2 3 1] remove next h reduce [agree h h]", "[true make hash! [1 3 1]]"},
        {"h: make hash! [1 2 3 1] remove/part h 2 agree h", "true"},
        {"h: make hash! [1 2 3 1] change next h [8 8 8] reduce [agree h h]", "[true make hash! [1 8 8 8]]"},
        {"h: make hash! [1 2 3 1] change/part h 5 3 reduce [agree h h]", "[true make hash! [5 1]]"},
        {"h: make hash! [1 2 3 1] poke h 2 1 reduce [agree h index? find/last h 1]", "[true 4]"},
        {"h: make hash! [1 2 a] h/3: 2 reduce [agree h h]", "[true make hash! [1 2 2]]"},
        {"h: make hash! [a 1 b 2] put h 'a 5 put h 'c 3 reduce [agree h select h 'c]", "[true 3]"},
        {"h: make hash! [3 1 2 1] sort h reduce [agree h index? find h 2]", "[true 3]"},
        {"h: make hash! [3 1 2 1] reverse h reduce [agree h index? find h 3]", "[true 4]"},
        {"h: make hash! [1 2 3 4] reverse/part next h 2 reduce [agree h h]", "[true make hash! [1 3 2 4]]"},
        {"h: make hash! [1 2 3] take h reduce [agree h find h 1]", "[true none]"},
        {"h: make hash! [1 2 3] t: take/part h 2 reduce [agree h agree t find t 2]", "[true true make hash! [2]]"},
        {"h: make hash! [1 2 3] take/last h reduce [agree h find h 3]", "[true none]"},
        {"h: make hash! reduce [1 none 2 none] trim h reduce [agree h h]", "[true make hash! [1 2]]"},
        {"h: make hash! [1 2 3] clear next h reduce [agree h find h 2]", "[true none]"},
        {"h: make hash! [1 2 3] move h tail h reduce [agree h h]", "[true make hash! [2 3 1]]"},
        {"h: make hash! [1 2 3] g: make hash! [7] move h g reduce [agree h agree g g]",
         "[true true make hash! [1 7]]"},
        {"h: make hash! [1 2] g: make hash! [3 4] swap h g reduce [agree h agree g h g]",
         "[true true make hash! [3 2] make hash! [1 4]]"},
        {"h: make hash! [1 2 3 1] swap h at h 3 reduce [agree h h]", "[true make hash! [3 2 1 1]]"},
    });
}

// Many inserts at the head grow the table through its rebuilds.
TEST_F(Hash, GrowsThroughManyEdits) {
    check({
        {"h: make hash! 1 b: [1 2 3 4 5 6 7 8 9 10] insert h b insert h b insert next h b append h b "
         "insert/dup h 0 40 reduce [agree h index? find h 10]",
         "[true 51]"},
    });
}
