// foreach, forall and remove-each, the loops over series; and apply, which
// calls a function with the arguments held in a block.
//
// The loops set their words in the words' own contexts, as repeat does: the
// words are not made local (the function maker collects them when a
// function wants them local). Each loop keeps its series in its argument
// cells, where the collector sees it, and its position as a number; the body
// may change the series, so every step reads the buffer afresh through the
// node and stops at the tail as it is then. The loop frame above the
// arguments receives each value of the body, as in the other loops.
//
// apply makes the call the interpreter would make, frame, arguments and
// refinements, but takes the arguments from its block by its modes: in
// spec order with every refinement given as a truth value (/all), or the
// mandatory arguments followed by refinement! values, each with a truth
// value and then its own arguments. A missing argument is none; /safer takes
// each argument from one value of the block and skips, unevaluated, the
// arguments of an inactive refinement.
#include <cstdint>
#include <cstring>

#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
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

bool used(const Call& call, int i) { return call.refs[i] >= 0; }

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
// two words. An image! (pixels) a loop cannot walk yet.
void check_walkable(const Cell* words, const Cell* series) {
    if (cell::is(series, type::map) && (!cell::is(words, type::block) || series::length_from(words) != 2))
        error::fire(error::id::invalid_arg, words);
    if (cell::is(series, type::image)) error::fire_not_done();
}

// The element at a position of the series, or none at and past the tail.
Cell element(const Cell* series, int32_t pos) {
    Cell e;
    if (pos >= series::total_length(series)) {
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
    if (*pos >= series::total_length(series)) return false;
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
    uint32_t unit = b->unit() ? b->unit() : 1;
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
    int32_t pos = cell::is(base + 1, type::map) ? 0 : series::clamped_index(base + 1);
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
    if (t == type::image) error::fire_not_done();
    const Cell body = base[1];
    open_loop();
    for (;;) {
        Cell current = *word::fetch(base);
        if (series::ks_tail_q(&current)) break;
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

// ---- apply

namespace {

constexpr uint32_t class_shift = 20;
constexpr uint32_t max_refinements = 32;

uint32_t class_of(const Cell& typeset) { return (typeset.header >> class_shift) & 3; }

bool callable(uint8_t t) {
    return t == type::function || t == type::native || t == type::action || t == type::op || t == type::routine;
}

// Where apply takes the arguments from.
struct Source {
    const Cell* block;  // apply's block argument (a stack cell)
    uint32_t pos;
    bool safer;
    bool marks;  // refinement! values mark the refinements (not with /all)
    Cell name;   // the word naming the call, for errors

    bool at_end() const { return pos >= uint32_t(series::total_length(block)); }
    Cell peek() const { return *block::ks_abs_at(block, int32_t(pos)); }
    // A refinement! value marks the end of the arguments before it.
    bool at_refinement() const {
        if (!marks || at_end()) return false;
        Cell c = peek();
        return cell::is(&c, type::refinement);
    }
};

// The value of a word met in the block; a word bound to nothing is not
// defined.
Cell fetched(const Cell& word) {
    check_bound(&word);
    return *word::fetch(&word);
}

// Pushes the next argument by its class: an evaluated argument is one
// expression, or with /safer one value (a word's value, a paren's result, any
// other value as it is). Answers the pending code.
uint32_t push_next(Source& s, uint32_t cls) {
    if (cls == 0 && !s.safer) {
        uint32_t end = uint32_t(series::total_length(s.block));
        NodeId code = series::node_of(s.block);
        return guarded([&] { return interp::eval_expression(code, s.pos, end, false, true, false, &s.pos); });
    }
    Cell c = s.peek();
    ++s.pos;
    if (cls != 1) {
        if (cell::is(&c, type::paren)) {
            cell::set_type(&c, type::block);
            return guarded([&] { return interp::eval_block(&c, false); });
        }
        if (cell::is(&c, type::get_word)) {
            c = fetched(c);
        } else if (cls == 0 && cell::is(&c, type::word)) {
            c = fetched(c);
            if (cell::is(&c, type::unset)) {
                Cell w = *block::ks_abs_at(s.block, int32_t(s.pos - 1));
                error::fire(error::id::no_value, &w);
            }
        }
    }
    stack::push(&c);
    return 0;
}

// The truth value that follows a refinement; a missing one is false.
uint32_t next_truth(Source& s, bool* on) {
    *on = false;
    if (s.at_end() || s.at_refinement()) return 0;
    if (uint32_t pending = push_next(s, 0)) return pending;
    *on = truthy(stack::last());
    stack::pop(1);
    return 0;
}

// The argument of an inactive refinement: skipped with /safer, else
// evaluated and dropped.
uint32_t pass_over(Source& s, uint32_t cls) {
    if (s.at_end() || s.at_refinement()) return 0;
    if (s.safer) {
        ++s.pos;
        return 0;
    }
    Cell* kept = stack::top;
    uint32_t pending = push_next(s, cls);
    if (!pending) stack::top = kept;
    return pending;
}

// Pushes an argument for the spec entry (word, typeset); a missing one is
// none. The value must be of the argument's types.
uint32_t push_argument(Source& s, const Cell& word, const Cell& typeset) {
    if (s.at_end() || s.at_refinement()) {
        cell::set_none(stack::push_slot());
    } else if (uint32_t pending = push_next(s, class_of(typeset))) {
        return pending;
    }
    const Cell* value = stack::last();
    if (cell::typeset_has(&typeset, cell::type_of(value))) return 0;
    Cell kind, argument = word;
    cell::set_datatype(&kind, cell::type_of(value));
    cell::set_type(&argument, type::word);
    error::fire(error::id::expect_arg, &s.name, &kind, &argument);
}

// The parsed spec of the callable (interp::parsed_spec): pairs of word and
// typeset, refinement cells with their numbers, a final integer! (the
// refinement count, and the locals count).
struct Spec {
    Cell block;
    uint32_t length() const { return uint32_t(series::total_length(&block)); }
    Cell at(uint32_t i) const { return *block::ks_abs_at(&block, int32_t(i)); }
    bool argument(uint32_t i) const {
        Cell c = at(i);
        return word_like(cell::type_of(&c)) && !cell::is(&c, type::set_word);
    }
    bool refinement(uint32_t i) const {
        Cell c = at(i);
        return cell::is(&c, type::refinement);
    }
};

// The frame of a call under way: a function's slots (one per argument and
// per refinement, in spec order) or a native's refinement indices.
struct Frame {
    bool function;
    int32_t refs[max_refinements];
};

// /all: every argument and every refinement's truth value in spec order.
uint32_t fetch_all(Source& s, const Spec& spec, Frame& f) {
    bool active = true;
    for (uint32_t i = 0, n = spec.length(); i < n; ++i) {
        Cell c = spec.at(i);
        if (cell::is(&c, type::refinement)) {
            if (uint32_t pending = next_truth(s, &active)) return pending;
            if (f.function) cell::set_logic(stack::push_slot(), active);
            else f.refs[interp::refinement_number(&c) - 1] = active ? int32_t(stack::top - stack::args) : -1;
            continue;
        }
        if (!spec.argument(i)) continue;
        Cell typeset = spec.at(++i);
        if (active) {
            if (uint32_t pending = push_argument(s, c, typeset)) return pending;
            continue;
        }
        if (uint32_t pending = pass_over(s, class_of(typeset))) return pending;
        if (f.function) cell::set_none(stack::push_slot());
    }
    return 0;
}

// Without /all: the mandatory arguments, then refinement! values, each
// followed by its truth value and its own arguments, in any order.
uint32_t fetch_by_refinements(Source& s, const Spec& spec, Frame& f) {
    uint32_t n = spec.length(), i = 0;
    for (; i < n && !spec.refinement(i); ++i) {
        if (!spec.argument(i)) continue;
        Cell word = spec.at(i), typeset = spec.at(i + 1);
        ++i;
        if (uint32_t pending = push_argument(s, word, typeset)) return pending;
    }
    uint32_t first_refinement = i;
    // A function's slots start inactive, as in a plain call.
    if (f.function)
        for (uint32_t k = first_refinement; k < n; ++k) {
            if (spec.refinement(k)) cell::set_logic(stack::push_slot(), false);
            else if (spec.argument(k)) cell::set_none(stack::push_slot()), ++k;
        }
    uint32_t seen = 0;
    while (!s.at_end()) {
        Cell r = s.peek();
        if (!cell::is(&r, type::refinement)) error::fire(error::id::invalid_arg, &r);
        ++s.pos;
        uint32_t k = first_refinement, wanted = symbol::resolve(word::symbol(&r)), slot = 0;
        for (; k < n; ++k) {
            Cell candidate = spec.at(k);
            if (spec.refinement(k) && symbol::resolve(word::symbol(&candidate)) == wanted) break;
            if (spec.argument(k)) ++k;
        }
        if (k == n) error::fire(error::id::no_refine, &s.name, &r);
        // The refinement's slot in a function: after the mandatory arguments,
        // one per refinement and per argument before it.
        for (uint32_t j = 0; j < k; ++j)
            if (spec.refinement(j)) ++slot;
            else if (spec.argument(j)) ++slot, ++j;
        Cell refinement = spec.at(k);
        uint32_t number = interp::refinement_number(&refinement);
        if (seen & (1u << (number - 1))) error::fire(error::id::dup_refine, &r);
        seen |= 1u << (number - 1);
        bool on;
        if (uint32_t pending = next_truth(s, &on)) return pending;
        if (f.function) cell::set_logic(stack::args + slot, on);
        else if (on) f.refs[number - 1] = int32_t(stack::top - stack::args);
        for (uint32_t j = k + 1, a = 1; j + 1 < n && spec.argument(j); j += 2, ++a) {
            Cell typeset = spec.at(j + 1);
            if (!on) {
                if (uint32_t pending = pass_over(s, class_of(typeset))) return pending;
                continue;
            }
            if (uint32_t pending = push_argument(s, spec.at(j), typeset)) return pending;
            if (f.function) {
                stack::args[slot + a] = *stack::last();
                stack::pop(1);
            }
        }
    }
    return 0;
}

// Runs a function's body on the slots pushed in its frame: they are the
// values of its context for the call; return and exit end here.
uint32_t run_function(const Cell& fn, const Spec& spec) {
    Cell count = spec.at(spec.length() - 1);
    for (uint32_t i = 0; i < interp::locals_count(&count); ++i) {
        if (i == 0) cell::set_logic(stack::push_slot(), false);  // the slot of /local itself
        else cell::set_none(stack::push_slot());
    }
    context::set_values(context::context_cell(function::context_of(&fn)), uint32_t(stack::args - stack::cells) + 1);
    stack::set_body_flag(true);
    Cell body = *function::body_of(&fn);
    uint32_t pending = 0;
    if (cell::is(&body, type::block)) {
        pending = guarded([&] { return interp::eval_block(&body, true); });
    } else {
        cell::set_none(stack::args);
        stack::keep();
    }
    if (pending == throws::return_ || pending == throws::exit_) {
        exits::consume();
        pending = 0;
    }
    return pending;
}

uint32_t run_entry(const Cell& fn, const Frame& f) {
    Entry entry = nullptr;
    if (cell::is(&fn, type::action)) {
        uint32_t index = native::entry_index(&fn);
        if (index >= 1 && index <= uint32_t(action::count)) entry = actions::table[index - 1];
    } else {
        entry = natives::entry(native::entry_index(&fn));
    }
    if (!entry) error::fire_not_done();
    return guarded([&] { return entry(Call{false, f.refs}); });
}

}  // namespace

uint32_t apply(const Call& call) {
    enum { all, safer };
    Cell* base = stack::args;  // func, args
    Cell fn = base[0], name = *words::words.applied;
    if (cell::is(&fn, type::word)) {
        name = fn;
        fn = fetched(name);
    } else if (cell::is(&fn, type::path)) {
        // A path stands for its head word's value.
        Cell head = series::length_from(&fn) ? *block::ks_abs_at(&fn, series::clamped_index(&fn)) : fn;
        if (!cell::is(&head, type::word)) error::fire(error::id::invalid_arg, base);
        name = head;
        fn = fetched(head);
    }
    if (!callable(cell::type_of(&fn))) error::fire(error::id::invalid_arg, base);
    if (cell::is(&fn, type::op)) {
        cell::set_type(&fn, op::source_type(&fn));
        fn.header &= cell::type_mask;
    }
    if (cell::is(&fn, type::routine)) error::fire_not_done();  // routines are called by the interpreter once it runs them
    stack::top = base + 2;
    stack::push(&fn);  // kept safe on the stack during the call
    Spec spec{Cell{type::block, 0, interp::parsed_spec(&fn), 0}};
    Cell refinements = spec.at(spec.length() - 1);
    if (uint32_t(cell::integer(&refinements)) > max_refinements) error::fire_not_done();
    Frame f{cell::is(&fn, type::function), {}};
    for (int32_t& r : f.refs) r = -1;
    if (f.function) stack::mark_interp_func(&name, function::context_of(&fn));
    else stack::mark_interp_call(&name);
    Source s{base + 1, uint32_t(series::clamped_index(base + 1)), used(call, safer), !used(call, all), name};
    uint32_t pending = used(call, all) ? fetch_all(s, spec, f) : fetch_by_refinements(s, spec, f);
    if (pending) return pending;
    if (!s.at_end()) {
        Cell extra = s.peek();
        error::fire(error::id::invalid_arg, &extra);
    }
    pending = f.function ? run_function(fn, spec) : run_entry(fn, f);
    if (pending) return pending;
    Cell result = *stack::args;
    if (f.function) stack::unwind_func();
    else stack::unwind();
    stack::set_result(&result);
    return 0;
}

}  // namespace kel::natives
