// error!: values made from the catalog, their printed form, make error!,
// path access, and the errors that try answers.
#include <gtest/gtest.h>

#include "runtime/collector.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/context.hpp"
#include "runtime/error.hpp"
#include "runtime/output.hpp"
#include "runtime/throws.hpp"
#include "tests/support/environment.hpp"
#include "tests/support/printed.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Error : WithEnvironment<WithSeries> {
    // The formed text of an error of the catalog entry, with its arguments
    // and the where, near and stack fields given (none when absent).
    static std::string formed(error::Category category, const char* id, std::initializer_list<Cell> args,
                              const Cell* where = nullptr, const Cell* near = nullptr,
                              const Cell* trace = nullptr) {
        collector::RootCell e;
        const Cell* a[3] = {};
        int i = 0;
        for (const Cell& c : args) a[i++] = &c;
        error::make_with_args(&e.cell, uint32_t(category), id, a[0], a[1], a[2]);
        if (where) *error::field_of(&e.cell, error::field::where) = *where;
        if (near) *error::field_of(&e.cell, error::field::near) = *near;
        if (trace) *error::field_of(&e.cell, error::field::stack) = *trace;
        return form(e.cell);
    }
};

// Prints through a hook list of its own, put back as it was afterwards.
using PrintedError = KeepsPrinted<Error>;

}  // namespace

TEST_F(Error, FormedWithItsMessageAndWhereNearStackLines) {
    using C = error::Category;
    Cell f = word_of("f"), x = word_of("x"), a = word_of("a"), integer = type_cell(type::integer);
    Cell near = load1("[x + 1 * some-longer-words to cut it here at forty]");
    Cell calls = load1("[g f]");
    Cell path = load1("o/x");
    Cell where_text = text("console");
    EXPECT_EQ(formed(C::script, "no-value", {x}), "*** Script Error: x has no value\n*** Where: ???\n*** Near : none");
    EXPECT_EQ(formed(C::script, "expect-arg", {f, integer, a}, &f),
              "*** Script Error: f does not allow integer! for its a argument\n*** Where: f\n*** Near : none");
    EXPECT_EQ(formed(C::math, "zero-divide", {}, &where_text),
              "*** Math Error: attempt to divide by zero\n*** Where: console\n*** Near : none");
    EXPECT_EQ(formed(C::throw_, "throw", {num(5)}), "*** Throw Error: no catch for throw: 5\n*** Where: ???\n*** Near : none");
    EXPECT_EQ(formed(C::script, "invalid-path", {path, x}, &f, &near, &calls),
              "*** Script Error: cannot access x in path o/x\n*** Where: f\n"
              "*** Near : x + 1 * some-longer-words to cut it here\n*** Stack: g f");
    // Arguments are molded (flat, at most 80 characters).
    EXPECT_EQ(formed(C::script, "invalid-arg", {text("s")}), "*** Script Error: invalid argument: \"s\"\n*** Where: ???\n*** Near : none");
    EXPECT_EQ(formed(C::syntax, "bad-char", {text("(line 1)"), text("}")}),
              "*** Syntax Error: invalid character at (line 1)\n*** Where: ???\n*** Near : none");
    EXPECT_EQ(formed(C::internal, "too-deep", {}),
              "*** Internal Error: block or paren series is too deep to process\n*** Where: ???\n*** Near : none");
    // An id the catalog lacks makes an invalid error, never a failure.
    EXPECT_EQ(formed(C::script, "no-such-id", {}),
              "*** Internal Error: invalid error object field value: no-such-id\n*** Where: ???\n*** Near : none");
}

TEST_F(Error, MakeError) {
    check({
        {"e: make error! 300 reduce [e/type e/id e/code]", "[script no-value 300]"},
        {"e: make error! 302 e/id", "not-defined"},
        {"make error! -1", "error: out-of-range"},
        {"make error! 399", "error: out-of-range"},
        {"make error! 2000", "error: out-of-range"},
        {"e: make error! [script no-value] e/code", "300"},
        {"make error! [script]", "error: invalid-spec-field"},
        {"make error! [nothing no-value]", "error: invalid-spec-field"},
        {"make error! [script 5]", "error: invalid-arg"},
        {"e: make error! [type: 'math id: 'zero-divide] reduce [e/code e/type]", "[400 math]"},
        {"make error! [type: 'math id: 'nothing]", "error: invalid-spec-field"},
        {"make error! [1 2]", "error: invalid-error"},
        {"e: make error! \"boom\" reduce [e/type e/id e/arg1]", "[user message \"boom\"]"},
        {"make error! 1.5", "error: bad-make-arg"},
        {"form make error! [script no-value]", "{*** Script Error: none has no value^/*** Where: ???^/*** Near : none}"},
    });
}

// Each line of the list of ids is an entry of the catalog, under its
// category, in the list's order: the first line of a category has code
// category x 100, the next one more. The catalog holds nothing else.
TEST_F(Error, TheCatalogHoldsTheListOfIdsInOrder) {
    struct Line {
        error::Category category;
        const char* id;
    };
    const Line lines[] = {
#define KEL_ERROR(category, name, text, message) {error::Category::category, text},
#include "runtime/error_ids.def"
#undef KEL_ERROR
    };
    uint32_t count[10] = {};
    for (const Line& line : lines) {
        uint32_t c = uint32_t(line.category);
        collector::RootCell e;
        error::make_with_args(&e.cell, c, line.id, nullptr, nullptr, nullptr);
        const Cell* code = error::field_of(&e.cell, error::field::code);
        ASSERT_TRUE(cell::is(code, type::integer)) << line.id << " is not in the catalog";
        EXPECT_EQ(cell::integer(code), int32_t(c * 100 + count[c]++)) << line.id;
    }
    for (uint32_t c = 0; c < 10; ++c) {
        NodeId category = error::category_context(c);
        ASSERT_NE(category, 0u) << c;
        EXPECT_EQ(context::word_count(category), count[c] + 2) << c;  // code and type first
    }
}

// The codes scripts and runtime code rely on: a line moved in the list shows here.
TEST_F(Error, CodesOfTheIds) {
    check({
        {"e: make error! 0 reduce [e/type e/id]", "[throw break]"},
        {"e: make error! 4 reduce [e/type e/id]", "[throw while-cond]"},
        {"e: make error! 100 reduce [e/type e/id]", "[note no-load]"},
        {"e: make error! 203 reduce [e/type e/id]", "[syntax malconstruct]"},
        {"e: make error! 204 reduce [e/type e/id]", "[syntax bad-char]"},
        {"e: make error! 305 reduce [e/type e/id]", "[script expect-arg]"},
        {"e: make error! 316 reduce [e/type e/id]", "[script invalid-data]"},
        {"e: make error! 331 reduce [e/type e/id]", "[script invalid-path]"},
        {"e: make error! 341 reduce [e/type e/id]", "[script out-of-range]"},
        {"e: make error! 353 reduce [e/type e/id]", "[script bad-make-arg]"},
        {"e: make error! 365 reduce [e/type e/id]", "[script parse-rule]"},
        {"e: make error! 374 reduce [e/type e/id]", "[script parse-into-type]"},
        {"e: make error! 378 reduce [e/type e/id]", "[script rb-invalid-record]"},
        {"e: make error! 402 reduce [e/type e/id]", "[math positive]"},
        {"e: make error! 511 reduce [e/type e/id]", "[access no-create]"},
        {"e: make error! 800 reduce [e/type e/id]", "[user message]"},
        {"e: make error! 902 reduce [e/type e/id]", "[internal no-memory]"},
        {"e: make error! 906 reduce [e/type e/id]", "[internal too-deep]"},
        {"e: make error! 912 reduce [e/type e/id]", "[internal deprecated]"},
        {"make error! 205", "error: out-of-range"},
        {"e: make error! 379 reduce [e/type e/id]", "[script invalid-months]"},
        {"e: make error! 383 reduce [e/type e/id]", "[script react-bad-obj]"},
        {"e: make error! 385 reduce [e/type e/id]", "[script draw-infinite]"},
        {"make error! 386", "error: out-of-range"},
    });
}

TEST_F(Error, MoldedAsItsFields) {
    collector::RootCell e;
    error::make_with_args(&e.cell, uint32_t(error::Category::script), "not-defined", nullptr, nullptr, nullptr);
    EXPECT_EQ(mold(e.cell), "make error! [\n    code: 302\n    type: 'script\n    id: 'not-defined\n    arg1: none\n"
                            "    arg2: none\n    arg3: none\n    near: none\n    where: none\n    stack: none\n"
                            "    files: none\n]");
    EXPECT_EQ(mold(e.cell, {.flat = true}).substr(0, 40), "make error! [code: 302 type: 'script id:");
}

TEST_F(Error, StackIsNotReachableByPath) {
    check({
        {"e: make error! 300 e/stack", "error: invalid-path-set"},
        {"e: make error! 300 e/STACK", "error: invalid-path-set"},
        {"e: make error! 300 e/Stack: 1", "error: invalid-path-set"},
        {"e: make error! 300 e/where: 'here e/where", "here"},
        {"e: make error! 300 e/arg1: 5 form e", "{*** Script Error: 5 has no value^/*** Where: ???^/*** Near : none}"},
    });
}

TEST_F(Error, TryAnswersTheErrorFired) {
    check({
        {"e: try [undefined-word] reduce [e/type e/id e/arg1 e/code]", "[script no-value undefined-word 300]"},
        {"f: func [] [undefined-word] e: try [f] e/where", "f"},
        {"e: try [throw 7] reduce [e/id e/arg1]", "[throw 7]"},
        // Without /keep the call trace is dropped; with it, the functions
        // that were running.
        {"f: func [] [undefined-word] e: try [f] e/stack", "error: invalid-path-set"},
        {"f: func [] [undefined-word] e: try/keep [f] reduce [e/code e/where]", "[300 f]"},
        {"f: func [] [g] g: func [] [undefined-word] e: try/keep [f] form e",
         "{*** Script Error: undefined-word has no value^/*** Where: g^/*** Near : undefined-word^/*** Stack: f g}"},
        {"f: func [] [undefined-word] e: try [f] form e",
         "{*** Script Error: undefined-word has no value^/*** Where: f^/*** Near : undefined-word}"},
    });
}

TEST_F(Error, UnderCollectionAtEveryAllocation) {
    alloc::stress = true;
    check({
        {"e: try [undefined-word] reduce [e/type e/id e/arg1]", "[script no-value undefined-word]"},
        {"f: func [] [g] g: func [] [undefined-word] e: try/keep [f] form e",
         "{*** Script Error: undefined-word has no value^/*** Where: g^/*** Near : undefined-word^/*** Stack: f g}"},
        {"e: make error! [type: 'math id: 'zero-divide] e/code", "400"},
    });
    alloc::stress = false;
}

// An error made and printed without being raised reads as the report of the
// same error raised and left uncaught, and the caller's stacks stay as they
// were.
TEST_F(PrintedError, MadeWithoutRaisingPrintsWhatTheRaisedOneReports) {
    struct Row {
        error::Id id;
        std::vector<Cell> args;
        const char* first_line;
    };
    Cell f = word_of("f"), x = word_of("x"), a = word_of("a"), integer = type_cell(type::integer);
    Cell path = load1("o/x");
    const Row rows[] = {
        {error::id::no_value, {x}, "*** Script Error: x has no value"},
        {error::id::expect_arg, {f, integer, a}, "*** Script Error: f does not allow integer! for its a argument"},
        {error::id::invalid_path, {path, x}, "*** Script Error: cannot access x in path o/x"},
        {error::id::zero_divide, {}, "*** Math Error: attempt to divide by zero"},
        {error::id::kel_system, {}, "*** Internal Error: contains Kel/System code which requires compilation"},
    };
    alloc::stress = true;
    for (const Row& r : rows) {
        const Cell* given[3] = {};
        for (size_t i = 0; i < r.args.size(); ++i) given[i] = &r.args[i];
        printed.clear();
        Cell* top = stack::top;
        stack::Frame* frames = stack::frame_top;
        error::make_value(r.id, given[0], given[1], given[2]);
        EXPECT_EQ(stack::top, top);
        EXPECT_EQ(stack::frame_top, frames);
        std::string unraised = printed;

        uint32_t raised = throws::protect(throws::error, [&] { error::fire(r.id, given[0], given[1], given[2]); });
        ASSERT_EQ(raised, throws::error);
        collector::RootCell report;
        string::make(&report.cell, 64);
        exits::form_pending(&report.cell);
        EXPECT_EQ(unraised, string::to_utf8(&report.cell) + "\n") << r.first_line;
        EXPECT_EQ(unraised.substr(0, unraised.find('\n')), r.first_line);
    }
    alloc::stress = false;
}
