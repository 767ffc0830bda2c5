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

    // Evaluates the source under a try frame: the molded result, or
    // "error: id". The stacks must come back as they were.
    static std::string eval(const char* source) {
        Cell code{};
        lexer::load_utf8(source, std::strlen(source), lexer::ScanOptions{}, &code);
        Cell* top = stack::top;
        Cell* args = stack::args;
        stack::Frame* frame_top = stack::frame_top;
        Cell* held = stack::push(&code);  // evaluated from the stack, where the collector sees it
        stack::mark_try(nullptr);
        Cell* base = stack::args;
        uint32_t pending = 0;
        uint32_t raised = throws::protect(throws::error, [&] { pending = interp::eval_block(held, true); });
        std::string result;
        if (raised) {
            EXPECT_EQ(raised, throws::error) << source;
            EXPECT_EQ(stack::frame_top, frame_top) << source << ": the error popped the try frame";
            result = std::string("error: ") + error::pending.id;
        } else if (pending) {
            ADD_FAILURE() << source << ": exit " << std::hex << pending << " left the code";
            exits::consume();
            stack::frame_top = frame_top;
        } else {
            EXPECT_EQ(exits::pending(), 0u) << source;
            EXPECT_EQ(stack::frame_top, frame_top + 1) << source << ": frames left open";
            EXPECT_EQ(stack::args, base) << source;
            EXPECT_EQ(stack::top, base + 1) << source << ": one result cell";
            Cell value = *base;
            stack::unwind_drop();
            result = cell::is(&value, type::error) ? brief(value) : mold(value);
        }
        stack::top = top;
        stack::args = args;
        return result;
    }

    // An error! value in brief: its type, id and the arguments it has, such
    // as "error! [script no-value x]".
    static std::string brief(const Cell& e) {
        std::string s = "error! [" + mold(*error::field_of(&e, error::field::type)) + " " +
                        mold(*error::field_of(&e, error::field::id));
        for (uint32_t i = error::field::arg1; i <= error::field::arg3; ++i) {
            Cell a = *error::field_of(&e, i);
            if (!cell::is(&a, type::none)) s += " " + mold(a);
        }
        return s + "]";
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
