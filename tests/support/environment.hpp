// A runtime with the boot environment loaded, for tests that run Kel source
// as a script would: every native, action and boot function is defined.
// Under KEL_GC_STRESS=1 the boot runs with a collection at every allocation,
// as the test's own code does.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "environment/boot.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/interp.hpp"
#include "runtime/lexer/lexer.hpp"
#include "tests/support/runtime.hpp"
#include "tests/support/values.hpp"
#include "view/start.hpp"

namespace kel::test {

template <class Base = WithRuntime>
struct WithEnvironment : Base {
    void SetUp() override {
        Base::SetUp();
        // The boot runs without stress mode, which the test's own code then
        // gets (KEL_GC_STRESS=1): the product's runs (kel-boots, the Kel
        // tables) boot under it, and a boot under it in every test would
        // only repeat theirs.
        StressMode boot(false);
        view::register_types();
        environment::boot();
        view::start();
    }
};

// An error! value in brief: its type, id and the arguments it has, such
// as "error! [script no-value x]".
inline std::string brief(const Cell& e) {
    std::string s = "error! [" + mold(*error::field_of(&e, error::field::type)) + " " +
                    mold(*error::field_of(&e, error::field::id));
    for (uint32_t i = error::field::arg1; i <= error::field::arg3; ++i) {
        Cell a = *error::field_of(&e, i);
        if (!cell::is(&a, type::none)) s += " " + mold(a);
    }
    return s + "]";
}

// Evaluates one line of source under a try frame: the molded result, or
// "error: id". The stacks must come back as they were.
inline std::string eval(const char* source) {
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

inline std::string eval(const std::string& source) { return eval(source.c_str()); }

// Sets the word of the global context to the value.
inline void define(const char* name, const Cell& value) {
    Cell w = word_of(name);
    context::put_value(context::global, &w, &value);
}

// For what only C++ can set up or observe (files, processes, the clock):
// each source must evaluate to the molded text or "error: id". Cases Kel
// can observe alone belong in a tests/kel table.
struct Case {
    const char* source;
    const char* expected;
};

inline void check(std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(eval(c.source), c.expected) << c.source;
}

}  // namespace kel::test
