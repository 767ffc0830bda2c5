// The number natives as Kel code: sign and zero tests, max and min over
// numbers and composite values, shift, to-hex, trigonometry, logarithms and
// the makers of pairs, points and money.
#include <gtest/gtest.h>

#include "tests/support/kel_source.hpp"

using namespace kel;
using namespace kel::test;

namespace {

const NativeSpec specs[] = {
    {"negative?", type::native, 49, "[number]"},
    {"positive?", type::native, 50, "[number]"},
    {"max", type::native, 51, "[value1 value2]"},
    {"min", type::native, 52, "[value1 value2]"},
    {"shift", type::native, 53, "[data bits /left /logical]"},
    {"to-hex", type::native, 54, "[value /size length]"},
    {"sine", type::native, 55, "[angle /radians]"},
    {"cosine", type::native, 56, "[angle /radians]"},
    {"tangent", type::native, 57, "[angle /radians]"},
    {"arcsine", type::native, 58, "[sine /radians]"},
    {"arccosine", type::native, 59, "[cosine /radians]"},
    {"arctangent", type::native, 60, "[tangent /radians]"},
    {"arctangent2", type::native, 61, "[y x /radians]"},
    {"NaN?", type::native, 62, "[value]"},
    {"log-2", type::native, 63, "[value]"},
    {"log-10", type::native, 64, "[value]"},
    {"log-e", type::native, 65, "[value]"},
    {"exp", type::native, 66, "[value]"},
    {"square-root", type::native, 67, "[value]"},
    {"as-pair", type::native, 73, "[x y]"},
    {"as-point2D", type::native, 74, "[x y]"},
    {"as-point3D", type::native, 75, "[x y z]"},
    {"as-money", type::native, 76, "[currency amount]"},
    {"sign?", type::native, 97, "[number]"},
    {"zero?", type::native, 100, "[value]"},
    {"negate", type::action, action::negate, "[number]"},
    {"form", type::action, action::form, "[value /part limit]"},
    {"mold", type::action, action::mold, "[value /only /all /flat /part limit]"},
};

struct NumberNatives : KelSource {
    std::span<const NativeSpec> natives_used() const override { return specs; }
    void SetUp() override {
        KelSource::SetUp();
        Cell nan = eval_value("square-root -1");
        define("nan", nan);
    }
    static Cell eval_value(const char* source) {
        Cell code{};
        lexer::load_utf8(source, std::strlen(source), lexer::ScanOptions{}, &code);
        Cell* held = stack::push(&code);
        interp::eval_block(held, true);
        Cell v = *stack::last();
        stack::top = held;
        return v;
    }
};

}  // namespace

TEST_F(NumberNatives, Signs) {
    check({
        {"negative? -1", "true"},
        {"negative? 0", "false"},
        {"positive? 0.5", "true"},
        {"positive? -0:01", "false"},
        {"negative? -USD$1", "true"},
        {"positive? $0", "false"},
        {"sign? -2.5", "-1"},
        {"sign? 0.0", "0"},
        {"sign? 3", "1"},
        {"sign? -$3", "-1"},
        {"sign? 50%", "1"},
        {"sign? nan", "0"},  // NaN is neither sign
        {"positive? nan", "false"},
        {"negative? nan", "false"},
        {"sign? 1x2", "error: expect-arg"},
        {"negative? \"a\"", "error: expect-arg"},
    });
}

TEST_F(NumberNatives, Zero) {
    check({
        {"zero? 0", "true"},
        {"zero? #\"^@\"", "true"},
        {"zero? 0.0", "true"},
        {"zero? nan", "false"},
        {"zero? 0:00", "true"},
        {"zero? 0%", "true"},
        {"zero? 0x0", "true"},
        {"zero? 1x0", "false"},
        {"zero? 0.0.0.0", "true"},
        {"zero? 0.0.1", "false"},
        {"zero? $0", "true"},
        {"zero? -EUR$0.00001", "false"},
        {"zero? (0, 0)", "true"},
        {"zero? (0, 0, 1)", "false"},
        {"zero? \"\"", "false"},  // other types are never zero
    });
}

TEST_F(NumberNatives, MaxMin) {
    check({
        {"max 1 2", "2"},
        {"min 1 2", "1"},
        {"max 1 2.5", "2.5"},
        {"max nan 1", "1.#NaN"},  // a NaN against a number wins
        {"min 1 nan", "1.#NaN"},
        {"max \"abc\" \"abd\"", "\"abd\""},
        {"min $2 $1", "$1.00"},
        {"max 1:00 0:30", "1:00:00"},
        {"max 1x5 3", "3x5"},
        {"min 3 1x5", "1x3"},  // a scalar first is swapped behind the composite
        {"max 1x5 2.9", "2x5"},
        {"max 1x5 1e10", "(1e10, 1e10)"},  // a float beyond 32 bits makes a point
        {"max 1x5 4x2", "4x5"},
        {"max 1x2 (1.5, 0)", "(1.5, 2)"},
        {"min (1, 5) 2", "(1, 2)"},
        {"max (1, 5, 0) (2, 0, 0)", "(2, 5, 0)"},
        {"max (1, 5) nan", "(1.#NaN, 1.#NaN)"},  // a NaN in the second replaces
        {"max 2.0.9 5", "5.5.9"},
        {"min 2.0.9 300", "2.0.9"},
        {"max 2.0.9 -4", "2.0.9"},
        {"max 1.2.3 3.0", "3.3.3"},
        {"max 1.2.3 1e10", "error: type-limit"},
        {"max 1.2.3 0.4.1", "1.4.3"},
        {"max 1.2.3 1.2.3.4", "1.2.3.4"},  // lengths differ: compared as values
        {"max 1.2.3 1.2.3.0", "1.2.3"},    // equal: max keeps the first
        {"min 1.2.3 1.2.3.0", "1.2.3.0"},  // and min the second
        {"max 1 \"a\"", "error: invalid-compare"},
    });
}

TEST_F(NumberNatives, ShiftAndHex) {
    check({
        {"shift -8 40", "-1"},
        {"shift/logical -8 40", "0"},
        {"shift/left -8 40", "0"},
        {"shift -8 1", "-4"},
        {"shift/logical -8 28", "15"},
        {"shift/left 1 31", "-2147483648"},
        {"shift 5 -3", "5"},  // a negative count counts as 0
        {"to-hex 255", "#000000FF"},
        {"to-hex -1", "#FFFFFFFF"},
        {"to-hex/size 255 2", "#FF"},
        {"to-hex/size 255 12", "#000000FF"},
        {"to-hex/size 1 0", "error: invalid-arg"},
    });
}

TEST_F(NumberNatives, Trigonometry) {
    check({
        {"sine 180", "0.0"},
        {"sine 90", "1.0"},
        {"sine -270", "1.0"},
        {"(sine 150) = 0.5", "true"},  // folded to 30 degrees
        {"cosine 90", "0.0"},
        {"cosine 180", "-1.0"},
        {"tangent 90", "1.#INF"},
        {"tangent -90", "-1.#INF"},
        {"(tangent 225) = 1.0", "true"},
        {"sine/radians 0", "0.0"},
        {"cosine/radians 0", "1.0"},
        {"arcsine 1", "90.0"},
        {"arccosine -1", "180.0"},
        {"arctangent 1", "45.0"},
        {"arctangent2 1 -1", "135.0"},
        {"arctangent2 0 -1", "180.0"},
        {"arctangent2/radians 0 1", "0.0"},
        {"NaN? arcsine 2", "true"},  // outside [-1, 1]
        {"sine \"a\"", "error: expect-arg"},
    });
}

TEST_F(NumberNatives, LogarithmsAndRoots) {
    check({
        {"log-2 8", "3.0"},
        {"log-2 50%", "-1.0"},  // a percent is its fraction
        {"log-10 1000", "3.0"},
        {"log-e 1", "0.0"},
        {"log-e 0", "-1.#INF"},  // no domain check
        {"exp 0", "1.0"},
        {"square-root 16", "4.0"},
        {"NaN? square-root -1", "true"},
        {"NaN? 1.0", "false"},
        {"NaN? 1", "false"},
        {"exp 1:00", "error: expect-arg"},
    });
}

TEST_F(NumberNatives, Makers) {
    check({
        {"as-pair 1.9 -1.9", "1x-1"},
        {"as-pair 3 4", "3x4"},
        {"as-pair 1e40 1", "error: invalid-arg"},
        {"as-pair nan 1", "error: invalid-arg"},
        {"as-point2D 1 2.5", "(1, 2.5)"},
        {"as-point3D 1 2 0.1", "(1, 2, 0.1)"},
        {"as-money 'USD 12.5", "USD$12.50"},
        {"as-money 'eur -3", "-EUR$3.00"},
        {"mold/all as-money 'USD 0.1", "\"USD$0.10000\""},  // the shortest decimal text
        {"mold/all as-money 'USD 1.234567", "\"USD$1.23456\""},  // cut after the fifth decimal
        {"as-money 'XYZ 1", "error: bad-denom"},
        {"as-money 'USD 1e17", "error: bad-make-arg"},
        {"form negate as-money 'USD 1234567.891", "\"-USD$1'234'567.89\""},
    });
}

TEST_F(NumberNatives, NumberText) {
    check({
        {"form 50%", "\"50%\""},
        {"form 12.5%", "\"12.5%\""},
        {"mold 1:02:05", "\"1:02:05\""},
        {"mold 0:01:30.5", "\"0:01:30.5\""},
        {"mold -1:30", "\"-1:30:00\""},
        {"mold 100:00", "\"100:00:00\""},
        {"mold 0:00:00.000000001", "\"0:00:00\""},
        {"mold $1234567.891", "\"$1234567.89\""},
        {"mold 1.2.3", "\"1.2.3\""},
        {"mold -3x4", "\"-3x4\""},
    });
}
