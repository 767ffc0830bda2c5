// integer!: arithmetic with its promotion to float!, the division and
// remainder edges, power, round and its refinements, conversions, text,
// comparison and the small actions, all called through the action table.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "runtime/actions.hpp"
#include "runtime/alloc.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/dtoa.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"
#include "runtime/words.hpp"
#include "tests/support/numbers.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;
using namespace kel::test;

namespace {



struct IntegerType : test::WithRuntime {
    void SetUp() override {
        WithRuntime::SetUp();
        // percent! and time! take the float! row, as their own module registers them.
        for (auto [t, name] : {std::pair{type::percent, "percent!"}, std::pair{type::time, "time!"}}) {
            datatype::Row row(datatype::inherit);
            datatype::register_type({t, type::float_, name, row.handlers});
        }
    }
};

}  // namespace

// Every op with both operands integer!, and the float results where the
// 32-bit answer does not exist.
TEST_F(IntegerType, ArithmeticPromotesToFloatWhereThirtyTwoBitsEnd) {
    struct Case {
        action::Slot op;
        int32_t a, b;
        const char* want;
    } cases[] = {
        {action::add, 1, 2, "integer! 3"},
        {action::add, 2147483647, 1, "float! 2147483648.0"},
        {action::add, INT_MIN, -1, "float! -2147483649.0"},
        {action::add, INT_MIN, INT_MAX, "integer! -1"},
        {action::subtract, INT_MIN, 1, "float! -2147483649.0"},
        {action::subtract, 0, INT_MIN, "float! 2147483648.0"},
        {action::subtract, -1, INT_MAX, "integer! -2147483648"},
        {action::multiply, 65536, 65536, "float! 4294967296.0"},
        {action::multiply, -65536, 32768, "integer! -2147483648"},
        {action::multiply, INT_MIN, -1, "float! 2147483648.0"},
        {action::multiply, 46341, 46341, "float! 2147488281.0"},
        {action::multiply, INT_MAX, INT_MAX, "float! 4.6116860141324206e18"},
        {action::divide, 7, 2, "float! 3.5"},
        {action::divide, 6, 3, "integer! 2"},
        {action::divide, -7, 2, "float! -3.5"},
        {action::divide, 1, 3, "float! 0.3333333333333333"},
        {action::divide, INT_MIN, 2, "integer! -1073741824"},
        {action::divide, INT_MIN, 1, "integer! -2147483648"},
        {action::divide, 1, 0, "error zero-divide"},
        {action::divide, INT_MIN, -1, "error overflow"},
        {action::remainder, -7, 2, "integer! -1"},
        {action::remainder, 7, -2, "integer! 1"},
        {action::remainder, INT_MIN, 2, "integer! 0"},
        {action::remainder, 1, 0, "error zero-divide"},
        {action::remainder, INT_MIN, -1, "error overflow"},
        {action::and_, 12, 10, "integer! 8"},
        {action::or_, 12, 10, "integer! 14"},
        {action::xor_, 12, 10, "integer! 6"},
        {action::and_, -1, INT_MIN, "integer! -2147483648"},
        {action::xor_, -1, INT_MAX, "integer! -2147483648"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run(c.op, {int_v(c.a), int_v(c.b)}), c.want) << c.a << " op " << int(c.op) << " " << c.b;
}

// The second operand's type picks the arithmetic.
TEST_F(IntegerType, SecondOperandChoosesTheCore) {
    struct Case {
        action::Slot op;
        int32_t a;
        Cell b;
        const char* want;
    } cases[] = {
        {action::add, 1, char_v('A'), "integer! 66"},
        {action::multiply, 65536, char_v(0x10000), "float! 4294967296.0"},
        {action::add, 1, real_v(0.5), "float! 1.5"},
        {action::divide, 1, real_v(0.0), "float! 1.#INF"},
        {action::multiply, 2, real_v(0.5, type::percent), "float! 1.0"},
        {action::add, 1, real_v(1.0, type::time), "time! 2.0"},
        {action::add, 1, bare(type::date), "date!"},
        {action::and_, 1, real_v(1.0), "error cannot-use"},
        {action::add, 1, text_v("1"), "error invalid-type"},
        {action::add, 1, bare(type::none), "error invalid-type"},
        {action::divide, 1, bare(type::pair), "error not-related"},
        {action::subtract, 1, bare(type::tuple), "error not-related"},
        {action::divide, 1, bare(type::tuple), "error not-related"},
        {action::multiply, 1, bare(type::date), "error not-related"},
        {action::add, 1, bare(type::money), "money!"},
        {action::divide, 1, bare(type::money), "error invalid-type"},
        // A pair, point or tuple on the right takes the operation to its own core.
        {action::add, 1, bare(type::pair), "pair!"},
        {action::subtract, 1, bare(type::point2d), "point2D!"},
        {action::add, 1, bare(type::tuple), "tuple!"},
    };
    for (const Case& c : cases) EXPECT_EQ(run(c.op, {int_v(c.a), c.b}), c.want) << c.a << " op " << show(c.b);
}

TEST_F(IntegerType, ErrorsNameTheOperation) {
    EXPECT_EQ(run(action::divide, {int_v(1), bare(type::pair)}), "error not-related");
    ASSERT_EQ(error::pending.arg_count, 2);
    EXPECT_EQ(error::pending.args[0].payload2, words::words.divide->payload2);
    EXPECT_EQ(error::pending.args[1].payload1, type::integer);
    // Every op but add on a date is reported as a subtraction.
    EXPECT_EQ(run(action::multiply, {int_v(1), bare(type::date)}), "error not-related");
    EXPECT_EQ(error::pending.args[0].payload2, words::words.subtract->payload2);
    EXPECT_EQ(run(action::add, {int_v(1), text_v("x")}), "error invalid-type");
    EXPECT_EQ(error::pending.args[0].payload1, type::string);
}

// The core itself: without a cell to promote into, an overflow is a throw a
// region of the integer-overflow level takes, and a divide truncates.
TEST_F(IntegerType, CoreWithoutACellThrowsOnOverflow) {
    EXPECT_EQ(integer::do_math(7, 2, integer::op::divide, nullptr), 3);
    EXPECT_EQ(integer::do_math(-7, 2, integer::op::divide, nullptr), -3);
    for (int op : {integer::op::add, integer::op::subtract, integer::op::multiply}) {
        int32_t a = op == integer::op::subtract ? INT_MIN : INT_MAX;
        uint32_t code = throws::protect(throws::integer_overflow, [&] { integer::do_math(a, 2, op, nullptr); });
        EXPECT_EQ(code, throws::integer_overflow) << op;
    }
}

TEST_F(IntegerType, Power) {
    struct Case {
        int32_t base;
        Cell exponent;
        const char* want;
    } cases[] = {
        {2, int_v(10), "integer! 1024"},
        {2, int_v(31), "float! 2147483648.0"},
        {-2, int_v(31), "integer! -2147483648"},
        {-3, int_v(3), "integer! -27"},
        {46340, int_v(2), "integer! 2147395600"},
        {46341, int_v(2), "float! 2147488281.0"},
        {3, int_v(20), "float! 3486784401.0"},
        {0, int_v(0), "integer! 1"},
        {7, int_v(1), "integer! 7"},
        {2, int_v(-1), "float! 0.5"},
        {1, int_v(-1), "float! 1.0"},
        {2, real_v(0.5), "float! 1.4142135623730951"},
        {2, real_v(0.5, type::percent), "error expect-arg"},
        {2, text_v("2"), "error expect-arg"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run(action::power, {int_v(c.base), c.exponent}), c.want) << c.base << " ** " << show(c.exponent);
}

namespace {

// Refinement positions of round: 0 /to (its scale's stack position), then
// the flags /even /down /half-down /floor /ceiling /half-ceiling.
enum Flag { even = 1, down, half_down, floor_, ceiling, half_ceiling };

std::string round_of(const Cell& n, const Cell* scale, std::initializer_list<Flag> flags = {}) {
    std::vector<int32_t> refs(7, -1);
    if (scale) refs[0] = 1;
    for (Flag f : flags) refs[f] = 0;
    return scale ? run(action::round, {n, *scale}, refs) : run(action::round, {n}, refs);
}

}  // namespace

TEST_F(IntegerType, RoundToMultiples) {
    struct Case {
        int32_t n;
        int32_t scale;  // 0x7FFFFFFF: no /to
        std::initializer_list<Flag> flags;
        const char* want;
    } cases[] = {
        {7, INT_MAX, {}, "integer! 7"},
        {17, 5, {}, "integer! 15"},
        {18, 5, {}, "integer! 20"},
        {17, -5, {}, "integer! 15"},
        {-17, 5, {}, "integer! -15"},
        {-18, 5, {}, "integer! -20"},
        {25, 10, {}, "integer! 30"},
        {-25, 10, {}, "integer! -30"},
        {25, 10, {even}, "integer! 20"},
        {35, 10, {even}, "integer! 40"},
        {-25, 10, {even}, "integer! -20"},
        {25, 10, {half_down}, "integer! 20"},
        {-25, 10, {half_down}, "integer! -20"},
        {25, 10, {half_ceiling}, "integer! 30"},
        {-25, 10, {half_ceiling}, "integer! -20"},
        {-17, 5, {floor_}, "integer! -20"},
        {17, 5, {floor_}, "integer! 15"},
        {-17, 5, {ceiling}, "integer! -15"},
        {17, 5, {ceiling}, "integer! 20"},
        {-19, 5, {down}, "integer! -15"},
        {19, 5, {down, ceiling}, "integer! 15"},  // /down is tested first
        {23, 0, {}, "integer! 23"},
        {INT_MIN, 10, {}, "integer! -2147483648"},
        {5, INT_MIN, {}, "integer! 0"},
        {INT_MAX, INT_MIN, {}, "error overflow"},
        {INT_MAX, 10, {}, "error overflow"},
        {-2147483647, 10, {}, "error overflow"},
        {INT_MAX, 10, {floor_}, "error overflow"},  // checked before the sign test
        {INT_MAX, 10, {down}, "integer! 2147483640"},
    };
    for (const Case& c : cases) {
        Cell scale = int_v(c.scale);
        EXPECT_EQ(round_of(int_v(c.n), c.scale == INT_MAX ? nullptr : &scale, c.flags), c.want)
            << "round/to " << c.n << " " << c.scale;
    }
}

TEST_F(IntegerType, RoundWithOtherScales) {
    Cell half = real_v(2.5), money = bare(type::money), text = text_v("5");
    EXPECT_EQ(round_of(int_v(7), &half), "float! 7.5");
    EXPECT_EQ(round_of(int_v(7), &money), "error not-related");
    EXPECT_EQ(round_of(int_v(7), &text), "error invalid-type");
}

TEST_F(IntegerType, MakeAndTo) {
    Cell integer = type_v(type::integer);
    struct Case {
        Cell spec;
        const char* to;
        const char* make;  // null: as to
    } cases[] = {
        {int_v(-5), "integer! -5", nullptr},
        {char_v(0x10FFFF), "integer! 1114111", nullptr},
        {real_v(2.9), "integer! 2", nullptr},
        {real_v(-2.9), "integer! -2", nullptr},
        {real_v(-2147483648.0), "integer! -2147483648", nullptr},
        {real_v(2147483647.0), "integer! 2147483647", nullptr},
        {real_v(2147483648.0), "error type-limit", nullptr},
        {real_v(-2147483649.0), "error type-limit", nullptr},
        {real_v(NAN), "error type-limit", nullptr},
        {real_v(1.5, type::percent), "integer! 1", nullptr},
        {real_v(1.5, type::time), "integer! 2", nullptr},
        {real_v(2.4, type::time), "integer! 2", nullptr},
        {real_v(-1.5, type::time), "integer! -1", nullptr},
        {binary_v({1, 2}), "integer! 258", nullptr},
        {binary_v({1, 2, 3, 4, 0xFF}), "integer! 16909060", nullptr},
        {binary_v({0xFF, 1, 2, 3, 4}, 1), "integer! 16909060", nullptr},
        {binary_v({0xFF, 0xFF, 0xFF, 0xFE}), "integer! -2", nullptr},
        {binary_v({}), "integer! 0", nullptr},
        {issue_v("FF"), "integer! 255", nullptr},
        {issue_v("7fffFFFF"), "integer! 2147483647", nullptr},
        {issue_v("FFFFFFFF"), "integer! -1", nullptr},
        {issue_v("123456789"), "error invalid-data", nullptr},
        {issue_v("FG"), "error invalid-data", nullptr},
        {Cell{type::logic, 1, 0, 0}, "error bad-to-arg", "integer! 1"},
        {Cell{type::logic, 0, 0, 0}, "error bad-to-arg", "integer! 0"},
        {bare(type::none), "error bad-to-arg", nullptr},
        {text_v("12'345"), "integer! 12345", nullptr},
        {text_v("-2147483648"), "integer! -2147483648", nullptr},
        {text_v("2147483648"), "error bad-to-arg", nullptr},  // beyond 32 bits
        {text_v("12a"), "error bad-to-arg", nullptr},
        {text_v(""), "error bad-to-arg", nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(action::to, {integer, c.spec}), c.to) << show(c.spec);
        EXPECT_EQ(run(action::make, {integer, c.spec}), c.make ? c.make : c.to) << show(c.spec);
    }
}

TEST_F(IntegerType, FormAndMoldAreTheDecimalText) {
    for (int32_t v : {0, 7, -1, 42, INT_MAX, INT_MIN, -1000000000}) {
        EXPECT_EQ(text_of(action::form, int_v(v)), std::to_string(v));
        EXPECT_EQ(text_of(action::mold, int_v(v)), std::to_string(v));
    }
}

TEST_F(IntegerType, Compare) {
    struct Case {
        Cell a, b;
        int32_t op;
        int32_t raw;  // compare_raw's answer: 0 for equal; 1 stands for any nonzero
    } cases[] = {
        {int_v(1), int_v(2), 3, -1},
        {int_v(INT_MIN), int_v(INT_MAX), 3, -1},
        {int_v(INT_MAX), int_v(INT_MIN), 5, 1},
        {int_v(65), char_v('A'), 0, 0},
        {int_v(1), real_v(1.0), 0, 0},
        {int_v(1), real_v(1.0), 2, 1},
        {int_v(1), real_v(1.0), 9, 1},
        {int_v(1), real_v(1.0), 12, 1},
        {int_v(65), char_v('A'), 2, 1},
        {int_v(2), real_v(2.5), 3, -1},
        {int_v(3), real_v(2.5), 3, 1},
        {int_v(1), real_v(0.01, type::percent), 5, 1},
        {int_v(1), real_v(NAN), 3, 1},  // every ordering with NaN is false
        {int_v(1), text_v("1"), 0, -2},
    };
    for (const Case& c : cases) {
        int32_t r = actions::compare_raw(&c.a, &c.b, c.op);
        EXPECT_EQ(c.raw == 1 ? r != 0 && r != -2 : r == c.raw, true)
            << show(c.a) << " vs " << show(c.b) << " code " << c.op << " gave " << r;
    }
    Cell one = int_v(1), nan = real_v(NAN);
    for (int32_t op : {3, 4, 5, 6}) EXPECT_FALSE(actions::compare_star(&one, &nan, op)) << op;
    EXPECT_EQ(outcome([&] {
                  Cell a = int_v(1), b = text_v("1");
                  actions::compare_star(&a, &b, 3);
                  return a;
              }),
              "error invalid-compare");
}

TEST_F(IntegerType, NegateAbsoluteComplementAndParity) {
    struct Case {
        int32_t n;
        const char *negate, *absolute;
    } cases[] = {
        {5, "integer! -5", "integer! 5"},
        {-5, "integer! 5", "integer! 5"},
        {0, "integer! 0", "integer! 0"},
        {INT_MAX, "integer! -2147483647", "integer! 2147483647"},
        {INT_MIN, "error overflow", "error overflow"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(action::negate, {int_v(c.n)}), c.negate) << c.n;
        EXPECT_EQ(run(action::absolute, {int_v(c.n)}), c.absolute) << c.n;
        EXPECT_EQ(run(action::complement, {int_v(c.n)}), "integer! " + std::to_string(~c.n)) << c.n;
        bool even = c.n % 2 == 0;
        EXPECT_EQ(run(action::even_q, {int_v(c.n)}), even ? "logic! true" : "logic! false") << c.n;
        EXPECT_EQ(run(action::odd_q, {int_v(c.n)}), even ? "logic! false" : "logic! true") << c.n;
    }
    EXPECT_EQ(run(action::odd_q, {int_v(-1)}), "logic! true");
}

TEST_F(IntegerType, Random) {
    EXPECT_EQ(run(action::random, {int_v(5)}, {0}), "unset!");
    std::string first = run(action::random, {int_v(1000000)});
    run(action::random, {int_v(5)}, {0});
    EXPECT_EQ(run(action::random, {int_v(1000000)}), first);
    EXPECT_EQ(run(action::random, {int_v(0)}), "integer! 0");
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) seen.insert(run(action::random, {int_v(-3)}));
    EXPECT_EQ(seen, (std::set<std::string>{"integer! -1", "integer! -2", "integer! -3"}));
    seen.clear();
    for (int i = 0; i < 200; ++i) seen.insert(run(action::random, {int_v(3)}, {-1, 0}));
    EXPECT_EQ(seen, (std::set<std::string>{"integer! 1", "integer! 2", "integer! 3"}));
}

// Slots the row leaves empty refuse through the dispatcher.
TEST_F(IntegerType, UnsupportedActionsRefuse) {
    EXPECT_EQ(run(action::length_q, {int_v(1)}), "error expect-arg");
    EXPECT_EQ(run(action::append, {int_v(1), int_v(2)}), "error expect-arg");
}

TEST_F(IntegerType, CellWriters) {
    Cell c{type::block | cell::newline_flag, 0, 0, 0};
    integer::box(&c, -7);
    EXPECT_EQ(c.header, type::integer | cell::newline_flag);
    EXPECT_EQ(integer::get(&c), -7);
    Cell* top = stack::top;
    Cell* pushed = integer::push(INT_MIN);
    EXPECT_EQ(show(*pushed), "integer! -2147483648");
    stack::top = top;
    EXPECT_EQ(integer::to_text(INT_MIN), "-2147483648");
    EXPECT_EQ(integer::to_text(0), "0");
    EXPECT_TRUE(integer::float_overflow_q(2147483647.5));
    EXPECT_FALSE(integer::float_overflow_q(-2147483648.0));
    EXPECT_TRUE(integer::float_overflow_q(-2147483648.5));
}
