// The draw dialect over the recording display: the commands in order,
// nested and pushed blocks, set-words, argument errors and where they point,
// cycles and deep nesting, strict, silent and image drawings.
#include <gtest/gtest.h>

#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/symbol.hpp"
#include "tests/support/environment.hpp"
#include "view/backend/record/draw.hpp"
#include "view/backend/record/record.hpp"

using namespace kel;
using namespace kel::test;
using view::draw::Options;

namespace {

struct Draw : WithEnvironment<> {
    void SetUp() override {
        WithEnvironment<>::SetUp();
        view::record::reset();
        eval("win: make object! [type: 'window color: none] "
             "fnt: make object! [name: \"Mono\" size: 12] "
             "box-face: make object! [type: 'rich-text text: \"ab\"] "
             "system/view: make object! [silent?: false]");
    }
};

Cell global(const char* name) { return *word::fetch(context::find_or_add_global(symbol::make(name))); }

// Draws the value of the source (evaluated) as win's drawing: the log lines
// joined by "|", then "error: id" when an error reached the caller, which
// the global word err then holds.
std::string drawn(const std::string& source, Options options = {}) {
    EXPECT_EQ(eval("cmds: (" + source + ") none"), "none") << source;
    view::record::clear_log();
    Cell face = global("win"), commands = global("cmds");
    StackScope scope;
    stack::mark_try(nullptr);
    std::string outcome;
    uint32_t raised = throws::protect(throws::error, [&] { view::record::draw(face, commands, options); });
    for (const std::string& line : view::record::log()) outcome += (outcome.empty() ? "" : "|") + line;
    if (raised) {
        outcome += std::string("|error: ") + error::pending.id;
        define("err", error::pending.value);
    }
    EXPECT_EQ(cycles::depth(), 0u) << source;
    return outcome;
}

}  // namespace

TEST_F(Draw, CommandsReachTheBackEndInOrder) {
    eval("blue: 0.0.255");
    EXPECT_EQ(drawn("compose [pen 255.0.0 fill-pen blue line-width 2 box 10x10 20x30 "
                    "box (1.5, 2.5) 0x0 4.0 fill-pen 1.2.3.128 font fnt text 5x5 \"hi\" "
                    "text 0x16 (box-face) pen off fill-pen off line-width 0.5]"),
              "draw begin window|draw pen 255.0.0|draw fill-pen 0.0.255|draw line-width 2|draw box 10x10 20x30|"
              "draw box 1.5x2.5 0x0 4|draw fill-pen 1.2.3.128|draw font \"Mono\" 12|draw text 5x5 \"hi\"|"
              "draw text 0x16 rich-text|draw pen off|draw fill-pen off|draw line-width 0.5|draw end");
}

// A nested block runs in place; push saves the state around its block.
TEST_F(Draw, NestedAndPushedBlocks) {
    EXPECT_EQ(drawn("[[pen 1.1.1 [line-width 3]] push [pen 2.2.2 push [box 0x0 1x1]] box 2x2 3x3]"),
              "draw begin window|draw pen 1.1.1|draw line-width 3|draw push-state|draw pen 2.2.2|"
              "draw push-state|draw box 0x0 1x1|draw pop-state|draw pop-state|draw box 2x2 3x3|draw end");
}

// A set-word refers to the block at the command after it, which code can
// change before the next drawing.
TEST_F(Draw, SetWordsMarkTheirCommand) {
    EXPECT_EQ(drawn("[pen 1.1.1 here: box 1x1 2x2]"), "draw begin window|draw pen 1.1.1|draw box 1x1 2x2|draw end");
    EXPECT_EQ(eval("reduce [index? here same? head here cmds]"), "[4 true]");
    eval("here/2: 5x5");
    EXPECT_EQ(drawn("cmds"), "draw begin window|draw pen 1.1.1|draw box 5x5 2x2|draw end");
}

// Commands not drawn yet pass over their arguments up to the next command.
TEST_F(Draw, CommandsNotDrawnYetAreSkipped) {
    EXPECT_EQ(drawn("[line 1x1 2x2 3x3 circle 5x5 10 pen linear 1.1.1 2.2.2 0.5 pad box 0x0 1x1 "
                    "translate 2x2 [box 9x9 9x9] fill-pen pattern 4x4 [pen 1.1.1] tile x: rotate 30 line-width 2]"),
              "draw begin window|draw box 0x0 1x1|draw line-width 2|draw end");
    EXPECT_EQ(eval("x/1"), "rotate");
}

// Without strict, an error reaches the caller after the target is closed,
// with the block positioned at the offending value (or at a missing
// argument's place: the tail).
TEST_F(Draw, ErrorsPointAtTheirValue) {
    struct {
        const char* block;
        int index;
    } cases[] = {
        {"[line-width]", 2},
        {"[line-width 1x1]", 2},
        {"[box 1x1]", 3},
        {"[box 1x1 \"a\"]", 3},
        {"[pen 1]", 2},
        {"[pen none]", 2},  // a word whose value is no colour
        {"[pen]", 2},
        {"[fill-pen 10%]", 2},
        {"[font 5]", 2},
        {"[font win-size]", 2},
        {"[text 1x1 5]", 3},
        {"[text \"a\"]", 2},
        {"[push 5]", 2},
        {"[pen 1.1.1 nonsense]", 3},
        {"[box 0x0 1x1 7%]", 4},  // not a radius: read as the next command
        {"[pen 1.1.1 'pen]", 3},
        {"[1.1.1]", 1},
    };
    eval("win-size: 10x10");
    for (const auto& c : cases) {
        std::string out = drawn(c.block, Options{true, false});
        EXPECT_TRUE(out.ends_with("|draw end|error: draw-invalid")) << c.block << ": " << out;
        EXPECT_EQ(eval("reduce [err/type index? err/arg1 same? head err/arg1 cmds]"),
                  "[script " + std::to_string(c.index) + " true]")
            << c.block;
    }
    EXPECT_EQ(eval("not none? find form err {Script Error: DRAW - invalid input at: [1.1.1]^/}"), "true");
}

// A block met again inside itself raises draw-infinite at that block; a
// deep but acyclic nesting stops at the depth limit with draw-invalid
// instead of exhausting the native stack.
TEST_F(Draw, CyclesAndDepth) {
    EXPECT_EQ(drawn("b: [pen 1.1.1] append/only b b b", Options{true, false}),
              "draw begin window|draw pen 1.1.1|draw end|error: draw-infinite");
    EXPECT_EQ(eval("same? err/arg1 b"), "true");
    EXPECT_EQ(eval("not none? find form err {Script Error: DRAW - infinite recursion at: [pen 1.1.1 [...]]^/}"),
              "true");
    EXPECT_EQ(drawn("b: [push [box 0x0 1x1]] append/only b/2 b b", Options{true, false}),
              "draw begin window|draw push-state|draw box 0x0 1x1|draw pop-state|draw end|error: draw-infinite");

    EXPECT_EQ(drawn("b: [box 0x0 1x1] loop 256 [b: reduce [b]] b"),
              "draw begin window|draw box 0x0 1x1|draw end");
    for (const char* deep : {"b: [box 0x0 1x1] loop 257 [b: reduce [b]] b",
                             "b: [box 0x0 1x1] loop 1000 [b: reduce [b]] b",
                             "b: [box 0x0 1x1] loop 1000 [b: reduce ['push b]] b"}) {
        std::string out = drawn(deep, Options{true, false});
        EXPECT_TRUE(out.ends_with("|draw end|error: draw-invalid")) << deep << ": " << out;
        EXPECT_EQ(out.find("draw box"), std::string::npos) << deep;
    }
}

// Strict (a window painting its face) drops the error: what was drawn
// before stays, the state pushed is popped and the target closed.
// silent? stops a non-strict drawing without an error too, but only for
// the dialect's own errors.
TEST_F(Draw, StrictAndSilent) {
    const char* block = "[pen 1.1.1 push [box 0x0 1x1 bad] box 2x2 3x3]";
    const std::string drawn_part =
        "draw begin window|draw pen 1.1.1|draw push-state|draw box 0x0 1x1|draw pop-state|draw end";
    EXPECT_EQ(drawn(block), drawn_part);
    EXPECT_EQ(drawn(block, Options{true, false}), drawn_part + "|error: draw-invalid");
    eval("system/view/silent?: true");
    EXPECT_EQ(drawn(block, Options{true, false}), drawn_part);
    EXPECT_EQ(drawn("b: [pen 1.1.1] append/only b b b", Options{true, false}),
              "draw begin window|draw pen 1.1.1|draw end");
}

// A window's drawing runs without a block (the background is painted); an
// image's needs a block with something in it.
TEST_F(Draw, TargetsWithoutCommands) {
    EXPECT_EQ(drawn("[]"), "draw begin window|draw end");
    EXPECT_EQ(drawn("none"), "draw begin window|draw end");
    EXPECT_EQ(drawn("[]", Options{false, false}), "");
    EXPECT_EQ(drawn("tail [box 0x0 1x1]", Options{false, false}), "");
    EXPECT_EQ(drawn("[box 0x0 1x1]", Options{false, false}), "draw begin image|draw box 0x0 1x1|draw end");
}

// A target that cannot be opened draws nothing and is still closed; a push
// that could not save the state pops only the clips pushed since.
TEST_F(Draw, FailedBeginAndFailedPush) {
    view::record::fail_next_begin();
    EXPECT_EQ(drawn("[box 0x0 1x1]"), "draw begin window failed|draw end");
    view::record::fail_next_state_push();
    EXPECT_EQ(drawn("[push [box 0x0 1x1] push [pen off]]"),
              "draw begin window|draw push-state failed|draw box 0x0 1x1|draw pop-clips|draw push-state|"
              "draw pen off|draw pop-state|draw end");
}

// The colour word: R in the low byte, a three-component tuple opaque, a
// fourth component the transparency; all bits set is fully transparent.
TEST_F(Draw, ColoursAsDevicesTakeThem) {
    struct {
        const char* tuple;
        view::draw::Color word;
        view::draw::ColorF f;
    } cases[] = {
        {"255.0.0", 0x0000FF, {1, 0, 0, 1}},
        {"0.128.255", 0xFF8000, {0, 128 / 255.0f, 1, 1}},
        {"1.2.3.255", 0xFF030201, {1 / 255.0f, 2 / 255.0f, 3 / 255.0f, 0}},
        {"0.0.0.51", 0x33000000, {0, 0, 0, 204 / 255.0f}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(eval(std::string("t: ") + c.tuple), c.tuple);
        view::draw::Color w = view::draw::color_of_tuple(global("t"));
        EXPECT_EQ(w, c.word) << c.tuple;
        view::draw::ColorF f = view::draw::to_float(w);
        EXPECT_FLOAT_EQ(f.r, c.f.r) << c.tuple;
        EXPECT_FLOAT_EQ(f.g, c.f.g) << c.tuple;
        EXPECT_FLOAT_EQ(f.b, c.f.b) << c.tuple;
        EXPECT_FLOAT_EQ(f.a, c.f.a) << c.tuple;
    }
    EXPECT_FLOAT_EQ(view::draw::to_float(~view::draw::Color(0)).a, 0.0f);
}
