#include <gtest/gtest.h>

#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatype.hpp"
#include "runtime/error.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"
#include "runtime/words.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;
using test::keep_block;
using test::keep_context;

namespace {

Cell word_of(uint8_t t, const char* name) { return Cell{t, 0, symbol::make(name), uint32_t(-1)}; }

// A block of the given cells, kept until the test ends.
Cell block_of(std::initializer_list<Cell> cells) {
    NodeId node = keep_block(alloc::alloc_cells(cells.size()));
    for (const Cell& c : cells) *series::bump_tail(alloc::buffer_of(node)) = c;
    return Cell{type::block, 0, node, 0};
}

Cell* cell_at(const Cell& block, uint32_t i) {
    SeriesBuffer* b = alloc::buffer_of(block.payload2);
    return reinterpret_cast<Cell*>(b->data() + b->offset) + i;
}

}  // namespace

using Contexts = test::WithRuntime;

TEST_F(Contexts, AddingTwiceAddsOnce) {
    NodeId ctx = keep_context(context::make(0, false, false, 0, 0));  // room for 1 at least
    Cell a = word_of(type::word, "alpha"), b = word_of(type::set_word, "beta");
    EXPECT_EQ(context::add_word_if_absent(ctx, &a), 0);
    EXPECT_EQ(context::add_word_if_absent(ctx, &b), 1);
    EXPECT_EQ(context::add_word_if_absent(ctx, &a), 0);
    EXPECT_EQ(context::word_count(ctx), 2u);
    SeriesBuffer* values = alloc::buffer_of(context::context_cell(ctx)->payload2);
    EXPECT_EQ((values->tail - values->offset) / 16, 2u);
    EXPECT_TRUE(cell::is(context::value_address(ctx, 1), type::unset));
    const Cell* w = context::word_at(ctx, 1);
    EXPECT_EQ(w->payload1, ctx);
    EXPECT_EQ(w->payload3, 1u);
    EXPECT_TRUE(cell::is(w, type::word));
}

TEST_F(Contexts, CanonicalLookupFindsCaseVariants) {
    NodeId ctx = keep_context(context::make(4, false, false, 0, 0));
    Cell w = word_of(type::word, "gamma");
    context::add_word_if_absent(ctx, &w);
    uint32_t upper = symbol::make("GAMMA");
    EXPECT_EQ(context::find_word_index(ctx, upper, true), 0);
    EXPECT_EQ(context::find_word_index(ctx, upper, false), -1);
}

TEST_F(Contexts, StoreAndFetchThroughWords) {
    NodeId ctx = keep_context(context::make(2, false, false, 0, context::object_kind));
    Cell w = word_of(type::word, "delta");
    w.payload1 = ctx;
    Cell v;
    cell::set_integer(&v, 42);
    context::store_word(&w, &v, ctx, true);
    EXPECT_EQ(w.payload3, 0u);  // resolved and added on the way
    EXPECT_EQ(cell::integer(word::fetch(&w)), 42);
    EXPECT_TRUE(context::word_at(ctx, 0)->header & cell::field_set_flag);  // an object field was written

    Cell stranger = word_of(type::word, "epsilon");
    stranger.payload1 = ctx;
    uint32_t code = throws::protect(throws::error, [&] { word::fetch(&stranger); });
    EXPECT_EQ(code, throws::error);
    EXPECT_STREQ(error::pending.id, "no-value");
}

TEST_F(Contexts, SelfReadsTheOwner) {
    NodeId ctx = keep_context(context::make(2, false, false, 0, context::object_kind));
    Cell owner{type::object, ctx, 0, 0};
    *context::owner_cell(ctx) = owner;
    Cell self = word_of(type::word, "self");
    Cell body = block_of({self});
    context::bind_block(&body, ctx, true);
    const Cell* bound = cell_at(body, 0);
    EXPECT_EQ(bound->payload1, ctx);
    EXPECT_EQ(int32_t(bound->payload3), -1);
    EXPECT_TRUE(cell::is(word::fetch(bound), type::object));
}

TEST_F(Contexts, BindingABlockThatContainsItselfEnds) {
    NodeId ctx = keep_context(context::make(2, false, false, 0, 0));
    Cell zeta = word_of(type::word, "zeta");
    context::add_word_if_absent(ctx, &zeta);
    Cell outer = block_of({zeta, zeta});
    *cell_at(outer, 1) = outer;  // the block holds itself
    Cell inner = block_of({word_of(type::get_word, "zeta"), word_of(type::issue, "zeta")});
    *cell_at(outer, 0) = inner;
    context::bind_block(&outer, ctx, false);
    EXPECT_EQ(cell_at(inner, 0)->payload1, ctx);           // nested get-word bound
    EXPECT_EQ(int32_t(cell_at(inner, 1)->payload3), -1);   // issues never are
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Contexts, FunctionSpecAndCloning) {
    Cell spec = block_of({word_of(type::word, "a"), word_of(type::refinement, "only"), word_of(type::word, "b"),
                          word_of(type::set_word, "ignored"), word_of(type::word, "a")});
    NodeId fn = keep_context(context::make_from_block(&spec, false, false, 0));
    EXPECT_EQ(context::word_count(fn), 3u);
    SeriesBuffer* values = alloc::buffer_of(context::context_cell(fn)->payload2);
    EXPECT_EQ((values->tail - values->offset) / 16, 4u);  // every spec word counts, repeats included

    NodeId source = keep_context(context::make(5, false, false, 0, context::object_kind));
    for (const char* n : {"f1", "f2", "f3", "f4", "f5"}) {
        Cell w = word_of(type::word, n);
        context::add_word_if_absent(source, &w);
    }
    Cell holder{type::object, source, 0, 0};
    NodeId copy = keep_context(context::clone(&holder, context::object_kind));
    EXPECT_EQ(holder.payload1, copy);
    EXPECT_EQ(context::word_count(copy), 5u);
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(context::word_at(copy, i)->payload1, copy);
    EXPECT_EQ(context::word_at(source, 0)->payload1, source);  // the source is untouched
    values = alloc::buffer_of(context::context_cell(copy)->payload2);
    EXPECT_EQ((values->tail - values->offset) / 16, 5u);
    for (uint32_t i = 0; i < 5; ++i) EXPECT_TRUE(cell::is(context::value_address(copy, i), type::unset));
}

TEST_F(Contexts, CollectSetWords) {
    NodeId ctx = keep_context(context::make(2, false, false, 0, 0));
    Cell body = block_of({word_of(type::set_word, "p"), word_of(type::word, "q"), word_of(type::set_word, "r")});
    EXPECT_TRUE(context::collect_set_words(ctx, &body));
    EXPECT_EQ(context::word_count(ctx), 2u);
    EXPECT_FALSE(context::collect_set_words(ctx, &body));
    body.payload1 = 99;  // past the tail: clamped, nothing collected
    EXPECT_FALSE(context::collect_set_words(ctx, &body));
    EXPECT_EQ(body.payload1, 3u);
}

TEST_F(Contexts, StartUpMadeTheGlobalWords) {
    for (int t = 1; t <= type::image; ++t) {
        ASSERT_NE(datatype::names[t].name, nullptr) << t;
        ASSERT_NE(datatype::names[t].word, nullptr) << t;
        EXPECT_EQ(symbol::name(datatype::names[t].word->payload2), datatype::names[t].name);
    }
    EXPECT_EQ(datatype::names[type::event].name, nullptr);
    EXPECT_EQ(symbol::name(words::words.collect->payload2), "collect");
    EXPECT_EQ(symbol::name(words::words.not_found->payload2), "<not-found>");
    EXPECT_EQ(symbol::name(words::symbols.code), "code");
    EXPECT_EQ(words::words.throw_->payload2, words::words.throw_category->payload2);
    EXPECT_TRUE(cell::is(words::refinements.part, type::refinement));
    EXPECT_EQ(symbol::name(words::issue_ooo->payload2), "ooo");
    // Word globals point into the root block and read through the global context.
    Cell v;
    cell::set_integer(&v, 7);
    Cell w = *words::words.append;
    word::set(&w, &v);
    EXPECT_EQ(cell::integer(word::fetch(words::words.append)), 7);
}
