// foreach, forall and remove-each, the loops over series.
//
// The loops set their words in the words' own contexts, as repeat does: the
// words are not made local (the function maker collects them when a
// function wants them local). Each loop keeps its series in its argument
// cells, where the collector sees it, and its position as a number; the body
// may change the series, so every step reads the buffer afresh through the
// node and stops at the tail as it is then. The loop frame above the
// arguments receives each value of the body, as in the other loops.

#include <cstdint>
#include <cstring>

#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/image.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/interp.hpp"
#include "runtime/natives/control.hpp"
#include "runtime/natives/entries.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"
#include "runtime/words.hpp"

namespace kel::natives {

namespace {

// Opens the loop frame above the cells pushed so far; its first cell, the
// result until the body runs, is unset.
void open_loop() {
    stack::mark_loop(nullptr);
    cell::set_unset(stack::push_slot());
}

bool word_like(uint8_t t) { return typesets::is_any_word(t); }

void check_bound(const Cell* word) {
    if (!word::context_of(word)) error::fire(error::id::not_defined, word);
}

// The loop words: one word, or a block of at least one word; answers their
// number. Everything is checked before any word is set.
int32_t check_words(const Cell* words) {
    if (!cell::is(words, type::block)) {
        check_bound(words);
        return 1;
    }
    int32_t first = series::clamped_index(words), n = series::length_from(words);
    if (n == 0) error::fire(error::id::invalid_arg, words);
    for (int32_t i = 0; i < n; ++i) {
        const Cell* w = block::ks_abs_at(words, first + i);
        if (!word_like(cell::type_of(w))) error::fire(error::id::invalid_arg, w);
        check_bound(w);
    }
    return n;
}

// Loop word i, as a word! cell of its own: setting it may allocate.
Cell loop_word(const Cell* words, int32_t i) {
    if (!cell::is(words, type::block)) return *words;
    Cell w = *block::ks_abs_at(words, series::clamped_index(words) + i);
    cell::set_type(&w, type::word);
    return w;
}

// A map! gives a key and its value each step: it takes a block of exactly
// two words.
void check_walkable(const Cell* words, const Cell* series) {
    if (cell::is(series, type::map) && (!cell::is(words, type::block) || series::length_from(words) != 2))
        error::fire(error::id::invalid_arg, words);
}

// The elements of a series whatever its index: an image! counts its pixels,
// its node holds no elements.
int32_t walk_length(const Cell* series) {
    if (cell::is(series, type::image)) return int32_t(image::pixel_count(series));
    return series::total_length(series);
}

// The index clamped to 0 .. walk_length.
int32_t start_of(const Cell* series) {
    int32_t i = int32_t(series->payload1), n = walk_length(series);
    return i < 0 ? 0 : i > n ? n : i;
}

// The element at a position of the series, or none at and past the tail.
Cell element(const Cell* series, int32_t pos) {
    Cell e;
    if (pos >= walk_length(series)) {
        cell::set_none(&e);
        return e;
    }
    e = *series;
    series::set_index(&e, pos);
    return *actions::handler<actions::Pick>(cell::type_of(&e), action::pick, &e)(&e, 1, nullptr);
}

// One step: word i receives the element at pos + i.
void set_words(const Cell* words, int32_t n, const Cell* series, int32_t pos) {
    for (int32_t i = 0; i < n; ++i) {
        Cell w = loop_word(words, i);
        Cell v = element(series, pos + i);
        word::set(&w, &v);
    }
}

// Sets the words for the step at pos and moves pos past what they took;
// false, setting nothing, once the series is exhausted. A map's pos is its
// block position, which steps over removed pairs.
bool next_step(const Cell* words, int32_t n, const Cell* series, int32_t* pos) {
    if (cell::is(series, type::map)) {
        Cell key = loop_word(words, 0), value = loop_word(words, 1);
        return map::set_words_from_pairs(series, pos, &key, &value);
    }
    if (*pos >= walk_length(series)) return false;
    set_words(words, n, series, *pos);
    *pos += n;
    return true;
}

// Removes count elements at pos: through the remove action when the type
// has one, else directly in the buffer of a block or text series.
void remove_at(const Cell* data, int32_t pos, int32_t count) {
    uint8_t t = cell::type_of(data);
    Cell* at = stack::push(data);
    series::set_index(at, pos);
    if (datatype::handler(t, action::remove)) {
        Cell part;
        cell::set_integer(&part, count);
        Cell* p = stack::push(&part);
        actions::handler<actions::Remove>(t, action::remove, at)(at, count > 1 ? p : nullptr, nullptr);
        stack::pop(2);
        return;
    }
    if (t == type::hash || t == type::vector || !(series::is_any_block(t) || series::is_text(t) || t == type::binary))
        error::fire_not_done();
    SeriesBuffer* b = alloc::buffer_of(series::node_of(data));
    uint32_t unit = series::unit_of(b);
    uint8_t* first = b->data() + b->offset + uint64_t(pos) * unit;
    uint8_t* rest = first + uint64_t(count) * unit;
    std::memmove(first, rest, size_t(b->data() + b->tail - rest));
    b->tail -= uint32_t(count) * unit;
    stack::pop(1);
}

}  // namespace

// ---- the loops

uint32_t foreach(const Call&) {
    Cell* base = stack::args;  // words, series, body
    int32_t n = check_words(base);
    check_walkable(base, base + 1);
    const Cell body = base[2];
    int32_t pos = cell::is(base + 1, type::map) ? 0 : start_of(base + 1);
    stack::top = base + 3;
    open_loop();
    while (next_step(base, n, base + 1, &pos)) {
        uint32_t code = run_body(body);
        Step s = loop_step(code);
        if (s == Step::stop) break;
        if (s == Step::pass_on) return code;
    }
    return close_with_value();
}

uint32_t forall(const Call&) {
    Cell* base = stack::args;  // word, body
    check_bound(base);
    stack::top = base + 2;
    const Cell* start = stack::push(word::fetch(base));  // the series at its starting position
    uint8_t t = cell::type_of(start);
    if (!series::is_series(t)) {
        Cell name = stack::get_call_word(), kind, argument{type::word, 0, symbol::make("word"), uint32_t(-1)};
        cell::set_datatype(&kind, t);
        error::fire(error::id::expect_arg, &name, &kind, &argument);
    }
    const Cell body = base[1];
    open_loop();
    for (;;) {
        Cell current = *word::fetch(base);
        if (t == type::image ? int32_t(current.payload1) >= walk_length(&current) : series::ks_tail_q(&current))
            break;
        uint32_t code = run_body(body);
        Step s = loop_step(code);
        if (s == Step::stop) break;
        if (s == Step::pass_on) return code;
        // The body may have moved the word along the series, never off it.
        current = *word::fetch(base);
        if (!series::same_series(&current, start))
            error::fire(error::id::bad_loop_series, &current);
        series::set_index(&current, series::index_of(&current) + 1);
        word::set(base, &current);
    }
    word::set(base, start);
    return close_with_value();
}

uint32_t remove_each(const Call&) {
    Cell* base = stack::args;  // words, data, body
    int32_t n = check_words(base);
    check_walkable(base, base + 1);
    if (cell::is(base + 1, type::image)) error::fire_not_done();  // pixels cannot be removed
    const Cell body = base[2];
    int32_t pos = series::clamped_index(base + 1);
    stack::top = base + 3;
    open_loop();
    while (pos < series::total_length(base + 1)) {
        set_words(base, n, base + 1, pos);
        uint32_t code = run_body(body);
        if (code == throws::break_) {
            // The loop's own result is the series; break/return replaces it.
            exits::consume();
            return close_with(cell::is(stack::args, type::unset) ? base[1] : *stack::args);
        }
        // continue keeps the elements: the body gave no verdict.
        bool remove = code == 0 && truthy(stack::args);
        if (loop_step(code) == Step::pass_on) return code;
        if (remove) {
            int32_t left = series::total_length(base + 1) - pos;
            remove_at(base + 1, pos, n < left ? n : left);
        } else {
            pos += n;
        }
    }
    return close_with(base[1]);
}

}  // namespace kel::natives
