#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "runtime/cell.hpp"
#include "runtime/checks.hpp"
#include "runtime/error.hpp"
#include "runtime/throws.hpp"

using namespace kel;

TEST(Cell, CopyAndPayloads) {
    Cell a{type::integer | cell::newline_flag, 1, 2, 3};
    Cell b{};
    EXPECT_EQ(cell::copy(&a, &b), &b);
    EXPECT_EQ(b.header, a.header);
    EXPECT_EQ(b.payload3, 3u);
    EXPECT_EQ(cell::copy(&a, &a), &a);  // onto itself: unchanged
    EXPECT_EQ(a.payload2, 2u);
    EXPECT_EQ(cell::type_of(&a), type::integer);
    cell::clear_newline(&a);
    EXPECT_EQ(a.header, uint32_t(type::integer));
    cell::set_type(&b, type::char_);
    EXPECT_EQ(b.header, type::char_ | cell::newline_flag);

    Cell f;
    cell::set_real(&f, type::float_, -2.5);
    EXPECT_EQ(cell::real(&f), -2.5);
    EXPECT_EQ(f.payload3, 0xC0040000u);  // high word of the double in payload 3
    EXPECT_EQ(f.payload2, 0u);
}

TEST(Cell, TypesetBits) {
    Cell ts{type::typeset, 0, 0, 0};
    for (uint8_t t : {type::datatype, type::integer, type::block, type::event}) cell::typeset_add(&ts, t);
    for (uint8_t t = 1; t <= type::event; ++t) {
        bool expected = t == type::datatype || t == type::integer || t == type::block || t == type::event;
        EXPECT_EQ(cell::typeset_has(&ts, t), expected) << int(t);
    }
    // Type 1 is the second bit of the first byte of payload 1.
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&ts.payload1)[0] & 0x40, 0x40);
}

TEST(Checks, FloatRange) {
    struct Case {
        double value;
        bool ok;
        int32_t result;
    } cases[] = {
        {2147483647.0, true, 2147483647}, {-2147483648.0, true, INT32_MIN}, {2147483647.9, false, 0},
        {2147483648.0, false, 0},         {-2147483649.0, false, 0},        {NAN, false, 0},
        {INFINITY, false, 0},             {-7.9, true, -7},                 {7.9, true, 7},
    };
    for (const Case& c : cases) {
        Cell v;
        cell::set_real(&v, type::float_, c.value);
        int32_t got = 0;
        uint32_t code = throws::protect(throws::error, [&] { got = integer::check_float_range(&v); });
        if (c.ok) {
            EXPECT_EQ(code, 0u) << c.value;
            EXPECT_EQ(got, c.result) << c.value;
        } else {
            ASSERT_EQ(code, throws::error) << c.value;
            EXPECT_STREQ(error::pending.id, "out-of-range");
            ASSERT_EQ(error::pending.arg_count, 1);
            EXPECT_EQ(std::memcmp(&error::pending.args[0], &v, sizeof v), 0) << c.value;  // the value itself
        }
    }
    Cell i;
    cell::set_integer(&i, -5);
    EXPECT_EQ(integer::check_float_range(&i), -5);
}

TEST(Checks, Replicate) {
    for (size_t unit : {1, 3, 16}) {
        for (size_t count : {0, 1, 2, 5, 64, 100}) {
            std::vector<uint8_t> buf(unit * count + unit, 0xEE);
            for (size_t i = 0; i < unit; ++i) buf[i] = uint8_t(i + 1);
            sysrt::replicate(buf.data(), unit, count);
            for (size_t i = 0; i < unit * count; ++i) ASSERT_EQ(buf[i], uint8_t(i % unit + 1)) << unit << " " << count;
            if (count) {
                EXPECT_EQ(buf[unit * count], 0xEE) << "wrote past the end";
            }
        }
    }
}

TEST(Errors, FireCarriesItsArguments) {
    Cell a, b;
    cell::set_integer(&a, 1);
    cell::set_integer(&b, 2);
    uint32_t code = throws::protect(throws::error, [&] { error::fire_bad_make_arg(&a, &b); });
    EXPECT_EQ(code, throws::error);
    EXPECT_EQ(error::pending.category, error::Category::script);
    EXPECT_STREQ(error::pending.id, "bad-make-arg");
    EXPECT_EQ(error::pending.arg_count, 2);
    EXPECT_EQ(cell::integer(&error::pending.args[1]), 2);
    code = throws::protect(throws::error, [] { error::fire(error::id::too_deep); });
    EXPECT_EQ(code, throws::error);
    EXPECT_EQ(error::pending.arg_count, 0);
    EXPECT_EQ(error::pending.category, error::Category::internal);
}
