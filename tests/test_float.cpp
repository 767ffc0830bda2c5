// float!: form and mold texts, the arithmetic of the float family and its
// result types, tolerant equality and the comparison codes, round and its
// refinements, conversions and the small actions, all called through the
// action table. percent! and time! reach these handlers by inheritance.
#include <gtest/gtest.h>

#include <bit>
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <initializer_list>
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
#include "runtime/throws.hpp"
#include "tests/support/numbers.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;
using namespace kel::test;

namespace {

constexpr double inf = INFINITY;

Cell pct(double fraction) { return real_v(fraction, type::percent); }
Cell secs(double s) { return real_v(s, type::time); }
Cell block_v(std::initializer_list<Cell> cells, uint8_t t = type::block) {
    Cell b{t, 0, test::keep_block(alloc::alloc_cells(cells.size())), 0};
    for (const Cell& c : cells) *series::alloc_tail(&b) = c;
    return b;
}

struct FloatType : test::WithRuntime {
    void SetUp() override {
        WithRuntime::SetUp();
        // percent! and time! take the float! row, as their own module registers them.
        for (auto [t, name] : {std::pair{type::percent, "percent!"}, std::pair{type::time, "time!"}}) {
            datatype::Row row(datatype::inherit);
            datatype::register_type({t, type::float_, name, row.handlers});
        }
        float_::pretty_print = true;
    }
    void TearDown() override {
        float_::pretty_print = true;
        WithRuntime::TearDown();
    }
};

}  // namespace

TEST_F(FloatType, FormIsTidy) {
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {0.1 + 0.2, "0.3"},
        {4.35 * 100, "435.0"},
        {-4.35 * 100, "-435.0"},
        {0.57 * 100, "57.0"},
        {0.7 + 0.1, "0.8"},
        {3.04 * 12.4, "37.696"},
        {1e23, "1.0e23"},  // %.16g reads 9.999999999999999e22
        {100 / 3.0, "33.33333333333334"},
        {1 / 3.0, "0.3333333333333333"},
        {1e20, "1.0e20"},
        {1e16, "1.0e16"},
        {1e15, "1000000000000000.0"},
        {1.5e-7, "1.5e-7"},
        {0.0001, "0.0001"},
        {0.00001, "1.0e-5"},
        {123456789012345680.0, "1.234567890123457e17"},
        {3.0, "3.0"},
        {-1.5, "-1.5"},
        {2147483648.0, "2147483648.0"},
        {1234567890123499.0, "1234567890123499.0"},
        {-1234567890123499.0, "-1234567890123499.0"},  // tidied like its positive
        {1e-300, "0.0"},
        {-1e-17, "0.0"},
        {-0.0, "0.0"},
        {DBL_MAX, "1.797693134862316e308"},
        {inf, "1.#INF"},
        {-inf, "-1.#INF"},
        {NAN, "1.#NaN"},
    };
    for (const Case& c : cases) EXPECT_EQ(text_of(action::form, real_v(c.value)), c.text) << c.value;
}

TEST_F(FloatType, FormWithoutPrettyPrinting) {
    float_::pretty_print = false;
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {4.35 * 100, "434.9999999999999"},
        {1e-300, "1.0e-300"},
        {-0.0, "-0.0"},
        {0.0, "0.0"},
        {0.1 + 0.2, "0.3"},
    };
    for (const Case& c : cases) EXPECT_EQ(text_of(action::form, real_v(c.value)), c.text) << c.value;
}

// The kinds the vector, percent, time and point modules use.
TEST_F(FloatType, FormFloatKinds) {
    struct Case {
        double value;
        int kind;
        const char* text;
    } cases[] = {
        {50.0, float_::kind::percent, "50%"},
        {12.5, float_::kind::percent, "12.5%"},
        {1e-20, float_::kind::percent, "0%"},
        {434.99999999999994, float_::kind::percent, "435%"},
        {double(0.1f), float_::kind::vector32, "0.1"},
        {3.0, float_::kind::vector32, "3.0"},
        {double(0.1f) * 100, float_::kind::vector_percent, "10%"},
        {3.0, float_::kind::coordinate, "3"},
        {0.0, float_::kind::coordinate, "0"},
        {2.5, float_::kind::coordinate, "2.5"},
        {5.5, float_::kind::seconds, "5.5"},
        {59.99999999, float_::kind::seconds, "60"},
        {1e-7, float_::kind::seconds, "0.0000001"},
        {1e-8, float_::kind::seconds, "1e-8"},
        {inf, float_::kind::seconds, "1.#INF"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(float_::form_float(c.value, c.kind), c.text) << c.value << " kind " << c.kind;
}

// Mold writes the shortest text that reads back to the same double.
TEST_F(FloatType, MoldReadsBack) {
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {0.1, "0.1"},
        {0.1 + 0.2, "0.30000000000000004"},
        {4.35 * 100, "434.99999999999994"},
        {100.0, "100.0"},
        {1e20, "1.0e20"},
        {1.5e-7, "0.00000015"},
        {1.5e-8, "1.5e-8"},
        {-0.0, "-0.0"},
        {5e-324, "5.0e-324"},
        {DBL_MAX, "1.7976931348623157e308"},
        {inf, "1.#INF"},
        {-inf, "-1.#INF"},
        {NAN, "1.#NaN"},
    };
    for (const Case& c : cases) {
        std::string t = text_of(action::mold, real_v(c.value));
        EXPECT_EQ(t, c.text) << c.value;
        size_t unparsed;
        double back = dtoa::parse_float(t.data(), t.data() + t.size(), 0, unparsed);
        EXPECT_EQ(unparsed, 0u) << t;
        if (std::isnan(c.value)) EXPECT_TRUE(std::isnan(back)) << t;
        else EXPECT_EQ(std::bit_cast<uint64_t>(back), std::bit_cast<uint64_t>(c.value)) << t;
    }
}

TEST_F(FloatType, ArithmeticAndResultTypes) {
    struct Case {
        action::Slot op;
        Cell a, b;
        const char* want;
    } cases[] = {
        {action::add, real_v(0.1), real_v(0.2), "float! 0.30000000000000004"},
        {action::subtract, real_v(1.5), int_v(2), "float! -0.5"},
        {action::multiply, real_v(1e308), int_v(10), "float! 1.#INF"},
        {action::divide, real_v(1.0), int_v(0), "float! 1.#INF"},
        {action::divide, real_v(-1.0), int_v(0), "float! -1.#INF"},
        {action::divide, real_v(0.0), int_v(0), "float! 1.#NaN"},
        {action::subtract, real_v(inf), real_v(inf), "float! 1.#NaN"},
        {action::remainder, real_v(5.5), int_v(2), "float! 1.5"},
        {action::remainder, real_v(-5.5), int_v(2), "float! -1.5"},
        {action::remainder, real_v(5.5), real_v(inf), "float! 5.5"},
        {action::remainder, real_v(inf), int_v(2), "float! 1.#NaN"},
        {action::remainder, real_v(inf), real_v(inf), "float! 1.#NaN"},
        {action::remainder, real_v(5.5), real_v(NAN), "float! 1.#NaN"},
        {action::remainder, real_v(5.5), int_v(0), "float! 1.#NaN"},
        {action::add, real_v(1.5), char_v('A'), "float! 66.5"},
        // Result types of the family.
        {action::multiply, pct(0.5), int_v(2), "percent! 1.0"},
        {action::add, pct(0.5), real_v(1.0), "percent! 1.5"},
        {action::multiply, pct(0.5), pct(0.5), "percent! 0.25"},
        {action::multiply, real_v(1.5), pct(0.5), "float! 0.75"},
        {action::add, real_v(1.5), secs(1.0), "time! 2.5"},
        {action::multiply, secs(60.0), int_v(2), "time! 120.0"},
        {action::add, pct(0.5), secs(1.0), "time! 1.5"},
        // Refusals.
        {action::add, pct(0.5), char_v('A'), "error invalid-type"},
        {action::add, secs(1.0), char_v('A'), "error invalid-type"},
        {action::add, real_v(1.0), text_v("1"), "error invalid-type"},
        {action::subtract, real_v(1.0), bare(type::pair), "error not-related"},
        {action::divide, real_v(1.0), bare(type::point2d), "error not-related"},
        {action::add, secs(1.0), bare(type::pair), "error invalid-type"},
        {action::add, real_v(1.0), bare(type::money), "money!"},
        {action::divide, real_v(1.0), bare(type::money), "error invalid-type"},
        {action::add, secs(1.0), bare(type::money), "error invalid-type"},
        // A pair, point or tuple on the right takes the operation to its own core.
        {action::add, real_v(1.0), bare(type::pair), "pair!"},
        {action::multiply, real_v(2.0), bare(type::point3d), "point3D!"},
        {action::add, real_v(1.0), bare(type::tuple), "tuple!"},
    };
    for (const Case& c : cases) EXPECT_EQ(run(c.op, {c.a, c.b}), c.want) << show(c.a) << " op " << show(c.b);
    EXPECT_EQ(run(action::and_, {real_v(1.0), int_v(1)}), "error expect-arg");  // not in the float! row
    EXPECT_EQ(outcome([] { return real_v(float_::do_math(1.0, 1.0, 5)); }), "error cannot-use");
}

TEST_F(FloatType, CompareCodes) {
    double x = 1.0, ten = x, eleven = x;
    for (int i = 0; i < 10; ++i) ten = std::nextafter(ten, 2.0);
    eleven = std::nextafter(ten, 2.0);
    struct Case {
        Cell a, b;
        int32_t op;
        bool want;
    } cases[] = {
        {real_v(0.1 + 0.2), real_v(0.3), 0, true},
        {real_v(0.1 + 0.2), real_v(0.3), 1, false},
        {real_v(0.1 + 0.2), real_v(0.3), 2, false},
        {real_v(x), real_v(ten), 0, true},
        {real_v(x), real_v(eleven), 0, false},
        {real_v(1e-17), real_v(0.0), 0, true},
        {real_v(NAN), real_v(NAN), 0, false},
        {real_v(NAN), real_v(NAN), 1, true},
        {real_v(NAN), real_v(NAN), 2, false},
        {real_v(NAN), real_v(1.0), 3, false},
        {real_v(NAN), real_v(1.0), 4, false},
        {real_v(NAN), real_v(1.0), 5, false},
        {real_v(NAN), real_v(1.0), 6, false},
        {real_v(1.0), real_v(NAN), 3, false},
        {real_v(1.0), int_v(1), 0, true},
        {real_v(1.0), int_v(1), 2, false},
        {real_v(1.0), int_v(1), 9, false},
        {real_v(1.0), real_v(1.0), 9, true},
        {real_v(0.0), real_v(-0.0), 0, true},
        {real_v(0.0), real_v(-0.0), 2, true},
        {real_v(0.0), real_v(-0.0), 9, false},
        {real_v(1.5), int_v(2), 3, true},
        {real_v(-inf), real_v(inf), 3, true},
        {real_v(2.5), secs(2.0), 5, true},
        {pct(0.5), real_v(0.5), 0, true},
        {pct(0.5), real_v(0.5), 2, false},
        {pct(0.5), pct(0.5), 2, true},
        {int_v(1), real_v(1.0), 0, true},
        {int_v(1), real_v(1.0), 2, false},
        {int_v(2), real_v(1.5), 5, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(actions::compare_star(&c.a, &c.b, c.op), c.want) << show(c.a) << " vs " << show(c.b) << " code " << c.op;
    Cell one = real_v(1.0), text = text_v("1");
    EXPECT_EQ(actions::compare_raw(&one, &text, 0), -2);
    EXPECT_EQ(outcome([&] {
                  actions::compare_star(&one, &text, 3);
                  return one;
              }),
              "error invalid-compare");
}

// The tolerances themselves, in doubles and in the 32-bit floats of points.
TEST_F(FloatType, NearEqual) {
    EXPECT_TRUE(float_::near_equal(1e300, 1e300 * (1 + 1e-15)));
    EXPECT_FALSE(float_::near_equal(1e300, 1e300 * (1 + 1e-14)));
    EXPECT_TRUE(float_::near_equal(-5e-324, 5e-324));
    EXPECT_FALSE(float_::near_equal(-1.0, 1.0));
    float f = 1.0f, f10 = f;
    for (int i = 0; i < 10; ++i) f10 = std::nextafter(f10, 2.0f);
    struct Case {
        float a, b;
        bool want;
    } cases[] = {
        {f, f10, true},
        {f, std::nextafter(f10, 2.0f), false},
        {-f, -f10, true},
        {0.0f, -0.0f, true},
        {-FLT_TRUE_MIN, FLT_TRUE_MIN, true},
        {FLT_MAX, INFINITY, true},
        {-FLT_MAX, FLT_MAX, false},
        {NAN, NAN, false},
        {1.0f, NAN, false},
    };
    for (const Case& c : cases) EXPECT_EQ(float_::near_equal32(c.a, c.b), c.want) << c.a << " vs " << c.b;
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

TEST_F(FloatType, Round) {
    const double tiny = 4.9406564584124654e-324;
    struct Case {
        Cell n;
        const Cell* scale;
        std::initializer_list<Flag> flags;
        const char* want;
    };
    Cell one = int_v(1), five = int_v(5), zero = int_v(0), cent = real_v(0.01), half = real_v(0.5);
    Cell big = real_v(1e308), step = real_v(4 * tiny), pct_step = pct(0.5), money = bare(type::money);
    Cell text = text_v("1");
    Case cases[] = {
        {real_v(2.5), nullptr, {}, "float! 3.0"},
        {real_v(-2.5), nullptr, {}, "float! -3.0"},
        {real_v(2.4), nullptr, {}, "float! 2.0"},
        {real_v(-0.3), nullptr, {}, "float! 0.0"},
        {real_v(2.5), nullptr, {even}, "float! 2.0"},
        {real_v(3.5), nullptr, {even}, "float! 4.0"},
        {real_v(2.5), nullptr, {half_down}, "float! 2.0"},
        {real_v(-2.5), nullptr, {half_ceiling}, "float! -2.0"},
        {real_v(2.5), nullptr, {half_ceiling}, "float! 3.0"},
        {real_v(-2.1), nullptr, {floor_}, "float! -3.0"},
        {real_v(-2.9), nullptr, {ceiling}, "float! -2.0"},
        {real_v(-2.7), nullptr, {down}, "float! -2.0"},
        {real_v(1234.5678), &cent, {}, "float! 1234.57"},
        {real_v(3.14159), &cent, {}, "float! 3.14"},
        {real_v(1.26), &half, {}, "float! 1.5"},
        {real_v(2.5), &one, {}, "integer! 3"},
        {real_v(17.0), &five, {}, "integer! 15"},
        {real_v(1e10), &one, {}, "error overflow"},
        {real_v(NAN), &one, {}, "error overflow"},
        {real_v(0.0), &zero, {}, "float! 0.0"},
        {real_v(5.5), &zero, {}, "float! 5.5"},
        {real_v(1.7e308), &big, {}, "error overflow"},
        {real_v(1e300), nullptr, {}, "float! 1.0e300"},
        {real_v(inf), nullptr, {}, "float! 1.#INF"},
        {real_v(6 * tiny), &step, {}, "float! 4.0e-323"},
        {real_v(7.3), &pct_step, {}, "percent! 7.5"},
        {pct(0.12345), nullptr, {}, "percent! 0.12"},
        {pct(0.125), nullptr, {even}, "percent! 0.12"},
        {secs(90.4), nullptr, {}, "time! 90.0"},
        {real_v(7.0), &money, {}, "error not-related"},
        {real_v(7.0), &text, {}, "error invalid-type"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(round_of(c.n, c.scale, c.flags), c.want) << show(c.n) << " to " << (c.scale ? show(*c.scale) : "-");
}

TEST_F(FloatType, MakeAndTo) {
    Cell floating = type_v(type::float_), percent = type_v(type::percent);
    struct Case {
        Cell target, spec;
        const char* want;
    } cases[] = {
        {floating, int_v(5), "float! 5.0"},
        {floating, int_v(INT_MIN), "float! -2147483648.0"},
        {floating, char_v('A'), "float! 65.0"},
        {floating, pct(0.5), "float! 0.5"},
        {floating, secs(1.5), "float! 1.5"},
        {floating, binary_v({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), "float! 1.0"},
        {floating, binary_v({0xC0, 0, 0, 0, 0, 0, 0, 0, 0xFF}), "float! -2.0"},
        {floating, binary_v({0xFF, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}, 1), "float! 1.0"},
        {floating, binary_v({0, 0, 0, 1}), "float! 5.0e-324"},
        {floating, binary_v({}), "float! 0.0"},
        {floating, block_v({int_v(15), int_v(-1)}), "float! 1.5"},
        {floating, block_v({int_v(3), int_v(-1)}), "float! 0.3"},
        {floating, block_v({real_v(1.5), int_v(2)}), "float! 150.0"},
        {floating, block_v({int_v(1), real_v(2.9)}), "float! 100.0"},
        {floating, block_v({int_v(1), int_v(400)}), "float! 1.#INF"},
        {floating, block_v({int_v(-1), real_v(-1e300)}), "float! -0.0"},
        {floating, block_v({int_v(15), int_v(-1)}, type::paren), "float! 1.5"},
        {floating, block_v({int_v(1), int_v(2), int_v(3)}), "error bad-to-arg"},
        {floating, block_v({text_v("1"), int_v(2)}), "error bad-to-arg"},
        {floating, block_v({int_v(1), real_v(NAN)}), "error bad-to-arg"},
        {floating, text_v(""), "error bad-to-arg"},
        {floating, bare(type::none), "error bad-to-arg"},
        {floating, Cell{type::logic, 1, 0, 0}, "error bad-to-arg"},
        {floating, text_v("1.5"), "float! 1.5"},
        {floating, text_v("1'000,25"), "float! 1000.25"},
        {floating, text_v("1.5x"), "error bad-to-arg"},
        {percent, int_v(5), "percent! 5.0"},
        {percent, real_v(0.5), "percent! 0.5"},
        {percent, text_v("50%"), "percent! 0.5"},  // the text loads as a number
        {percent, text_v("2"), "percent! 2.0"},
        {percent, text_v("x"), "error bad-to-arg"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(action::to, {c.target, c.spec}), c.want) << show(c.target) << " " << show(c.spec);
        EXPECT_EQ(run(action::make, {c.target, c.spec}), c.want) << show(c.target) << " " << show(c.spec);
    }
}

TEST_F(FloatType, NegateAbsolutePowerAndParity) {
    struct Case {
        action::Slot op;
        Cell a;
        const char* want;
    } cases[] = {
        {action::negate, real_v(1.5), "float! -1.5"},
        {action::negate, real_v(0.0), "float! 0.0"},
        {action::negate, real_v(-0.0), "float! 0.0"},
        {action::negate, pct(0.5), "percent! -0.5"},
        {action::absolute, real_v(-1.5), "float! 1.5"},
        {action::absolute, real_v(-0.0), "float! 0.0"},
        {action::absolute, real_v(-inf), "float! 1.#INF"},
        {action::absolute, secs(-60.0), "time! 60.0"},
        {action::even_q, real_v(2.9), "logic! true"},
        {action::odd_q, real_v(-3.5), "logic! true"},
        {action::even_q, real_v(-0.5), "logic! true"},
        {action::even_q, real_v(2147483647.0), "logic! false"},
        {action::even_q, real_v(2147483648.0), "error type-limit"},
        {action::odd_q, real_v(NAN), "error type-limit"},
    };
    for (const Case& c : cases) EXPECT_EQ(run(c.op, {c.a}), c.want) << int(c.op) << " " << show(c.a);
    struct Power {
        Cell base, exponent;
        const char* want;
    } powers[] = {
        {real_v(2.0), int_v(3), "float! 8.0"},
        {real_v(4.0), real_v(0.5), "float! 2.0"},
        {real_v(2.0), int_v(-2), "float! 0.25"},
        {pct(0.5), int_v(2), "percent! 0.25"},
        {real_v(-8.0), real_v(1 / 3.0), "float! 1.#NaN"},
        {real_v(2.0), pct(0.5), "error expect-arg"},
        {real_v(2.0), text_v("2"), "error expect-arg"},
    };
    for (const Power& p : powers)
        EXPECT_EQ(run(action::power, {p.base, p.exponent}), p.want) << show(p.base) << " ** " << show(p.exponent);
}

TEST_F(FloatType, Random) {
    EXPECT_EQ(run(action::random, {real_v(1.5)}, {0}), "unset!");
    std::string first = run(action::random, {real_v(10.0)});
    run(action::random, {real_v(1.5)}, {0});
    EXPECT_EQ(run(action::random, {real_v(10.0)}), first);
    for (int i = 0; i < 100; ++i) {
        for (bool secure : {false, true}) {
            Cell r;
            outcome([&] { return r = call(action::random, {real_v(-10.0)}, {-1, secure ? 0 : -1}); });
            ASSERT_TRUE(cell::is(&r, type::float_));
            EXPECT_LE(cell::real(&r), 0.0);
            EXPECT_GE(cell::real(&r), -10.0);
        }
    }
    EXPECT_EQ(run(action::random, {pct(0.0)}), "percent! 0.0");
}

TEST_F(FloatType, CellWritersAndBitTests) {
    Cell* top = stack::top;
    Cell* pushed = float_::push_halves(0, 0x3FF00000);
    EXPECT_EQ(show(*pushed), "float! 1.0");
    EXPECT_EQ(show(*float_::push(-2.5)), "float! -2.5");
    stack::top = top;
    EXPECT_EQ(std::bit_cast<uint64_t>(float_::fabs_bits(-0.0)), 0u);
    EXPECT_TRUE(float_::nan_q(NAN));
    EXPECT_FALSE(float_::nan_q(inf));
    EXPECT_TRUE(float_::special_q(-inf));
    EXPECT_FALSE(float_::special_q(DBL_MAX));
    EXPECT_TRUE(float_::nan32_q(NAN));
    EXPECT_FALSE(float_::nan32_q(INFINITY));
    EXPECT_EQ(float_::to_int_offset(2.5), 3);
    EXPECT_EQ(float_::to_int_offset(2.4), 2);
    EXPECT_EQ(float_::to_int_offset(0.49999999999999994), 0);
    EXPECT_EQ(outcome([] { return int_v(float_::to_int_offset(3e9)); }), "error type-limit");
}
