// A fixture for natives run as Kel source: the function and native types
// registered, the natives of the table given by each suite bound to their
// words, comparison natives and the arithmetic ops, and `eval`, which reads
// one line of source, evaluates it under a try frame and answers the molded
// result (an error! value in brief) or "error: id", checking that the stacks
// come back as they were.
#pragma once
#include <gtest/gtest.h>

#include <span>
#include <cstring>
#include <string>

#include "runtime/alloc.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/exits.hpp"
#include "runtime/interp.hpp"
#include "runtime/natives/control.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/lexer/lexer.hpp"
#include "tests/support/environment.hpp"
#include "tests/support/values.hpp"

namespace kel::test {

inline void define(const char* name, const Cell& value) {
    Cell w = word_of(name);
    context::put_value(context::global, &w, &value);
}

inline Cell as_op(Cell fn) {
    fn.header = type::op | uint32_t(cell::type_of(&fn)) << 16;
    return fn;
}

// Test-only natives in spare slots of the table: comparisons.
constexpr uint32_t lesser_slot = 110, equal_slot = 111;

template <int Op>
uint32_t compare_native(const Call&) {
    logic::set_last(actions::compare_star(stack::args, stack::args + 1, Op));
    stack::keep();
    return 0;
}

struct NativeSpec {
    const char* name;
    uint8_t kind;
    uint32_t index;  // 1-based: natives table, or action slot
    const char* spec;
};

struct KelSource : WithSeries {
    // The callables the suite binds to words.
    virtual std::span<const NativeSpec> natives_used() const = 0;

    void SetUp() override {
        WithSeries::SetUp();
        // Binding builds its spec blocks in C++ locals: no collection runs
        // under it, stress or not. The cases themselves run under stress.
        bool stressed = alloc::stress;
        alloc::stress = false;
        natives::table[lesser_slot] = compare_native<3>;
        natives::table[equal_slot] = compare_native<0>;
        for (const NativeSpec& s : natives_used()) define(s.name, make_callable(s.kind, s.spec, s.index));
        define("<", as_op(make_callable(type::native, "[a b]", lesser_slot + 1)));
        define("=", as_op(make_callable(type::native, "[a b]", equal_slot + 1)));
        define("+", as_op(make_callable(type::action, "[value1 value2]", action::add)));
        define("-", as_op(make_callable(type::action, "[value1 value2]", action::subtract)));
        define("*", as_op(make_callable(type::action, "[value1 value2]", action::multiply)));
        define("true", *shared::logic(true));
        define("false", *shared::logic(false));
        define("none", *shared::none());
        alloc::stress = stressed;
    }
    void TearDown() override {
        natives::table[lesser_slot] = natives::table[equal_slot] = nullptr;
        WithSeries::TearDown();
    }

    // make native! or action! [spec index]
    static Cell make_callable(uint8_t t, const char* spec, uint32_t index) {
        Cell arg = load(spec);
        Cell i = num(int32_t(index));
        block::ks_append(&arg, &i);
        return run(action::make, {type_cell(t), arg});
    }

    struct Case {
        const char* source;
        const char* expected;
    };

    static void check(std::initializer_list<Case> cases) {
        for (const Case& c : cases) EXPECT_EQ(eval(c.source), c.expected) << c.source;
    }
};

}  // namespace kel::test
