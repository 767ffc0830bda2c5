#include "runtime/natives/parse.hpp"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "runtime/actions.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/call.hpp"
#include "runtime/interp.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/natives/control.hpp"
#include "runtime/root.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"
#include "runtime/natives/entries.hpp"

namespace kel::parse {
namespace {

constexpr int64_t stack_limit = 10000;  // cells on either stack

// The kinds of keyword frames.
enum Kind : int32_t {
    repeat = -1, to = -2, thru = -3, copy = -4, set = -5, not_ = -6, into = -7, remove = -9,
    while_ = -11, collect = -12, keep = -13, ahead = -16, change = -17, change_only = -18, case_ = -19,
};

// The keyword vocabulary, by canonical symbol.
enum class Keyword {
    none_, any, break_, copy, end, fail, into, opt, not_, quote, case_, reject, set, skip, some, thru, to, none,
    bar, if_, remove, while_, insert, only, collect, keep, pick, ahead, after, change,
};

std::unordered_map<uint32_t, Keyword> keywords;
uint32_t bar_symbol;  // "|", compared exactly

// The trace events.
enum Event { ev_push, ev_pop, ev_fetch, ev_match, ev_iterate, ev_paren, ev_end, event_count };
uint32_t event_symbols[event_count];
uint32_t callback_symbol;  // the name the trace callback's frame carries

Cell* input_stack;  // root cells
Cell* rule_stack;
uint32_t input_head = 0, rule_head = 0;  // where the running parse's part starts

// ---- block plumbing

Cell* cells(const Cell* b) { return series::cells_of(b->payload2); }
uint32_t count(const Cell* b) { return series::cell_count(b->payload2); }
void cut(const Cell* b, uint32_t n) {
    SeriesBuffer* buf = alloc::buffer_of(b->payload2);
    buf->tail = buf->offset + n * uint32_t(sizeof(Cell));
}

Cell triple(int64_t a, int64_t b, int64_t c) {
    return Cell{type::triple, uint32_t(int32_t(a)), uint32_t(int32_t(b)), uint32_t(int32_t(c))};
}
int32_t first(const Cell* t) { return int32_t(t->payload1); }
int32_t second(const Cell* t) { return int32_t(t->payload2); }
int32_t third(const Cell* t) { return int32_t(t->payload3); }

// A keyword as a word! value, for error arguments.
const Cell& keyword_word(const char* name) {
    static Cell w;
    word::make_in(symbol::make(name), &w);
    return w;
}

// What ends a run early: a callback that answers false, or a pending exit
// of a paren or the callback (passed on as the native's exit code).
struct Stopped {
    bool match;
};
struct Exit {
    uint32_t code;
};

// Puts both stacks back as the run found them, however it ends.
class StackGuard {
public:
    StackGuard() : input_(input_head), rule_(rule_head) {
        input_head = count(input_stack);
        rule_head = count(rule_stack);
    }
    ~StackGuard() {
        cut(input_stack, input_head);
        cut(rule_stack, rule_head);
        input_head = input_;
        rule_head = rule_;
    }
    StackGuard(const StackGuard&) = delete;
    StackGuard& operator=(const StackGuard&) = delete;

private:
    uint32_t input_, rule_;
};

enum class Step { fetch, check, block_end, backtrack, pop_block, complete, done };

class Run {
public:
    Run(const Cell* in, const Cell* rules, int32_t mode, int64_t limit, const Cell* callback)
        : input_(*in), rules_(*rules), mode_(mode), limit_(limit), callback_(callback) {}

    // Matches; answers the match flag of the end.
    bool run();

    Cell* scratch = nullptr;  // collect blocks go above it

private:
    Cell input_;  // the series being matched; only its index moves
    Cell rules_;  // the current rule block
    collector::Root input_root_{&input_};
    collector::Root rules_root_{&rules_};
    int64_t pos_ = 0;  // the rule element, an absolute cell index of rules_
    bool match_ = true;
    bool break_ = false;
    int32_t mode_;
    int64_t limit_;
    const Cell* callback_;
    int32_t collects_ = 0;

    // ---- input

    int64_t index() const { return int32_t(input_.payload1); }
    void set_index(int64_t i) { input_.payload1 = uint32_t(int32_t(i)); }
    int64_t tail() const { return series::total_length(&input_); }
    bool nested() const { return count(input_stack) > input_head + 1; }
    int64_t end_index() const {
        int64_t t = tail();
        return limit_ > 0 && !nested() ? std::min(t, limit_) : t;
    }
    bool at_end() const { return index() >= end_index(); }
    int64_t length_from(int64_t i) const { return std::max<int64_t>(tail() - i, 0); }
    uint8_t input_type() const { return cell::type_of(&input_); }
    bool block_input() const { return series::is_any_block(input_type()); }
    bool binary_input() const { return cell::is(&input_, type::binary); }
    // Unit i of a string or binary input.
    uint32_t unit_at(int64_t i) const {
        SeriesBuffer* b = alloc::buffer_of(input_.payload2);
        uint32_t unit = series::unit_of(b);
        return string::get_char(b->data() + b->offset + uint64_t(i) * unit, unit);
    }
    // Value i of the input as set and keep take it: a byte as an integer, a
    // character as a char!, a block's value as it is.
    Cell value_at(int64_t i) const {
        if (block_input()) return cells(&input_)[i];
        Cell v{};
        if (binary_input()) cell::set_integer(&v, int32_t(unit_at(i)));
        else v = Cell{type::char_, 0, unit_at(i), 0};
        return v;
    }
    bool same_as_input(const Cell* v) const {
        return cell::type_of(v) == input_type() && v->payload2 == input_.payload2;
    }
    // A new series of the input's type holding units [from, to).
    Cell* copy_input(int64_t from, int64_t to);

    // ---- rules

    int64_t rules_end() const { return series::total_length(&rules_); }
    Cell element(int64_t p) const { return cells(&rules_)[p]; }
    bool has_element(int64_t p) const { return p < rules_end(); }
    Keyword keyword_of(const Cell& w) const {
        if (!cell::is(&w, type::word)) return Keyword::none_;
        if (w.payload2 == bar_symbol) return Keyword::bar;
        auto k = keywords.find(symbol::resolve(w.payload2));
        return k == keywords.end() ? Keyword::none_ : k->second;
    }
    bool is_keyword(const Cell& w, Keyword k) const { return keyword_of(w) == k; }
    // The value a rule word stands for.
    Cell word_value(const Cell& w) const {
        Cell v = *word::fetch(&w);
        if (cell::is(&v, type::unset)) error::fire(error::id::parse_rule, &w);
        return v;
    }

    // ---- the rule stack

    uint32_t depth() const { return count(rule_stack); }
    Cell* frame() const { return cells(rule_stack) + depth() - 3; }  // the top frame's three cells
    bool keyword_on_top() const { return depth() >= rule_head + 3 && cell::is(frame() + 2, type::pair); }
    void check_stacks() const {
        if (count(input_stack) > stack_limit || count(rule_stack) > stack_limit) error::fire(error::id::parse_stack);
    }
    void push_frame(const Cell& a, const Cell& b, const Cell& c) {
        check_stacks();
        block::ks_append(rule_stack, &a);
        block::ks_append(rule_stack, &b);
        block::ks_append(rule_stack, &c);
    }
    void drop_frame() { cut(rule_stack, depth() - 3); }

    // ---- steps

    Step enter_block(const Cell& block);
    Step pop_block();
    Step backtrack();
    Step dispatch(const Cell& e, bool as_rule);
    Step dispatch_rule();
    Step keyword(Keyword k, const Cell& w);
    Step push_keyword(Kind kind, const Cell& counter, int64_t rule_pos, int32_t flag = 0);
    Step complete();
    Step counts(const Cell& n);
    int64_t rule_end(int64_t p) const;
    int64_t after_modifier(Keyword modifier, const Cell& w, error::Id missing, bool* given) const;
    Step end_block_at_once(bool success);
    Step collect_keyword(const Cell& w);
    Step keep_keyword(const Cell& w);
    Step insert_keyword(const Cell& w);
    Step change_keyword(const Cell& w);
    Step remove_keyword(const Cell& w);
    void finish_collect(const Cell* counter);
    void finish_keep(const Cell* marker, int32_t flag);
    void keep_value(Cell* target, const Cell& value, bool only);

    // ---- matching

    int64_t literal_at(const Cell& value, int64_t i) const;
    bool compare_value(const Cell& item, const Cell& value) const;
    bool type_match(const Cell& t);
    void literal_match(const Cell& value);
    Step search_value(const Cell& value, Kind kind);
    Step repeat_value(const Cell& value);

    // ---- values given to insert and change, parens, the trace

    Cell* operand(int64_t p);
    Cell* eval_paren(const Cell& paren);
    void trace(Event e);
};

// ---- tracing and parens

void Run::trace(Event e) {
    if (!callback_) return;
    Cell values[5];
    word::make_in(event_symbols[e], &values[0]);
    cell::set_logic(&values[1], match_);
    values[2] = rules_;
    values[2].payload1 = uint32_t(std::max<int64_t>(pos_, series::index_of(&rules_)));
    values[3] = input_;
    values[4] = *rule_stack;
    Cell* top = stack::top;
    Cell name{};
    word::make_in(callback_symbol, &name);
    if (uint32_t pending = call::with_values(*callback_, name, values, 5)) throw Exit{pending};
    bool go_on = natives::truthy(stack::last());
    stack::top = top;
    if (!go_on) throw Stopped{match_};
}

// Evaluates the paren. Its value stays pushed on the stack, where the
// collector sees it; the caller drops it.
Cell* Run::eval_paren(const Cell& paren) {
    Cell code = paren;
    cell::set_type(&code, type::block);
    Cell* top = stack::top;
    if (uint32_t pending = interp::eval_block(&code, false)) throw Exit{pending};
    Cell result = *stack::last();
    stack::top = top;
    Cell* held = stack::push(&result);
    // The paren may have shortened the input.
    if (index() > tail()) set_index(tail());
    return held;
}

// The value element of insert and change, pushed as eval_paren pushes: a
// paren's result, a word's value, anything else as it stands.
Cell* Run::operand(int64_t p) {
    Cell e = element(p);
    switch (cell::type_of(&e)) {
        case type::path: error::fire(error::id::parse_rule, &e);
        case type::paren: {
            Cell* v = eval_paren(e);
            trace(ev_paren);
            return v;
        }
        case type::word: {
            Cell v = word_value(e);
            return stack::push(&v);
        }
        default: return stack::push(&e);
    }
}

// ---- matching

Cell* Run::copy_input(int64_t from, int64_t to) {
    Cell at = input_;
    at.payload1 = uint32_t(from);
    Cell part{};
    cell::set_integer(&part, int32_t(std::max<int64_t>(to - from, 0)));
    Cell* out = stack::push_slot();
    cell::set_none(out);
    Cell* held = stack::push(&at);
    Cell* made = actions::handler<actions::Copy>(input_type(), action::copy, held)(held, out, &part, false, nullptr);
    *out = *made;
    stack::top = out + 1;
    return out;
}

bool Run::compare_value(const Cell& item, const Cell& value) const {
    Cell a = item, b = value;
    int32_t op = mode_;
    uint8_t tb = cell::type_of(&b);
    if (tb == type::lit_word) {
        op = mode_ == compare_op::strict_equal ? compare_op::match_case : compare_op::match;
    } else if (tb == type::lit_path) {
        // A lit-path matches a path or lit-path of the same elements.
        uint8_t ta = cell::type_of(&a);
        if (ta != type::path && ta != type::lit_path) return false;
        cell::set_type(&b, ta);
    }
    return actions::compare_raw(&a, &b, op) == 0;
}

// How many units the literal value matches at input position i, or -1.
int64_t Run::literal_at(const Cell& value, int64_t i) const {
    uint8_t t = cell::type_of(&value);
    int64_t end = end_index();
    if (block_input()) {
        if (i >= end) return -1;
        return compare_value(cells(&input_)[i], value) ? 1 : -1;
    }
    bool fold = mode_ != compare_op::strict_equal && !binary_input();
    auto same = [&](uint32_t a, uint32_t b) {
        return fold ? case_folding::change_case(a, true) == case_folding::change_case(b, true) : a == b;
    };
    // The units the value stands for in this input.
    std::u32string units;
    switch (t) {
        case type::bitset:
            if (i >= end) return -1;
            return bitset::member(&value, unit_at(i)) ? 1 : -1;
        case type::char_:
            units.assign(1, char32_t(value.payload2));
            break;
        case type::integer:
            if (!binary_input()) return -1;
            units.assign(1, char32_t(uint32_t(cell::integer(&value))));
            break;
        case type::binary: {
            SeriesBuffer* b = alloc::buffer_of(value.payload2);
            const uint8_t* p = b->data() + b->offset + series::clamped_index(&value);
            units.assign(p, p + series::length_from(&value));
            break;
        }
        default: {
            if (!series::is_text(t)) return -1;
            units = string::text_of(&value);
            if (t == type::tag) units = U"<" + units + U">";
            if (binary_input()) {  // text matches its UTF-8 bytes
                std::string utf8 = string::utf8_of(units);
                const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
                units.assign(bytes, bytes + utf8.size());
            }
            if (units.empty() && (t == type::string || t == type::file || t == type::url)) return 0;
        }
    }
    if (units.empty() || i >= end) return -1;
    int64_t n = int64_t(units.size());
    if (i + n > end) return -1;
    for (int64_t k = 0; k < n; ++k)
        if (!same(unit_at(i + k), uint32_t(units[size_t(k)]))) return -1;
    return n;
}

void Run::literal_match(const Cell& value) {
    int64_t n = literal_at(value, index());
    match_ = n >= 0;
    if (match_) set_index(index() + n);
    trace(ev_match);
}

bool Run::type_match(const Cell& t) {
    if (series::is_text(input_type())) error::fire(error::id::parse_unsupported);
    if (at_end()) return false;
    auto wanted = [&](uint8_t k) {
        return cell::is(&t, type::typeset) ? cell::typeset_has(&t, k) : t.payload1 == k;
    };
    if (block_input()) {
        if (!wanted(cell::type_of(&cells(&input_)[index()]))) return false;
        set_index(index() + 1);
        return true;
    }
    // Binary input: the lexer recognises one value from the bytes here.
    SeriesBuffer* b = alloc::buffer_of(input_.payload2);
    std::string bytes(reinterpret_cast<const char*>(b->data() + b->offset + index()), size_t(end_index() - index()));
    Cell* out = stack::push_slot();
    cell::set_none(out);
    lexer::ScanOptions options;
    options.scan = true;
    options.one_value = true;
    uint32_t consumed = 0;
    int32_t found = lexer::scan(out, reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()),
                                options, &consumed);
    stack::pop(1);
    if (found <= 0 || found == type::error || !wanted(uint8_t(found))) return false;
    set_index(index() + consumed);
    return true;
}

// to and thru with a literal: the first place from here where it matches.
Step Run::search_value(const Cell& value, Kind kind) {
    uint8_t t = cell::type_of(&value);
    if (binary_input() && t != type::binary && t != type::char_ && t != type::integer && t != type::bitset &&
        !series::is_text(t))
        error::fire(error::id::parse_rule, &value);
    int64_t end = end_index();
    match_ = false;
    for (int64_t i = index(); i <= end; ++i) {
        int64_t n = literal_at(value, i);
        if (n < 0) continue;
        set_index(kind == to ? i : i + n);
        match_ = true;
        break;
    }
    trace(ev_match);
    trace(ev_pop);
    drop_frame();
    return Step::check;
}

// A repetition of a literal, in one loop.
Step Run::repeat_value(const Cell& value) {
    const Cell* counter = frame();
    int64_t min = first(counter), max = second(counter), n = 0;
    while (max < 0 || n < max) {
        int64_t k = literal_at(value, index());
        if (k < 0) break;
        set_index(index() + k);
        ++n;
        if (k == 0) break;  // an empty match makes no progress
    }
    match_ = n >= min;
    trace(ev_match);
    trace(ev_pop);
    drop_frame();
    return Step::check;
}

// ---- frames

Step Run::enter_block(const Cell& block) {
    Cell entry = triple(pos_, index(), length_from(index()));
    Cell none{type::none, 0, 0, 0};
    push_frame(none, entry, rules_);
    rules_ = block;
    pos_ = int64_t(series::clamped_index(&block)) - 1;
    match_ = true;
    trace(ev_push);
    return Step::fetch;
}

Step Run::pop_block() {
    trace(ev_pop);
    if (depth() - rule_head == 3) return Step::done;
    const Cell* f = frame();
    pos_ = first(f + 1);
    rules_ = f[2];
    drop_frame();
    if (keyword_on_top()) return Step::complete;
    return match_ ? Step::fetch : Step::backtrack;
}

Step Run::backtrack() {
    set_index(second(frame() + 1));
    for (int64_t p = pos_ + 1; p < rules_end(); ++p) {
        Cell e = element(p);
        if (cell::is(&e, type::word) && e.payload2 == bar_symbol) {
            pos_ = p;
            match_ = true;
            return Step::fetch;
        }
    }
    match_ = false;
    return Step::pop_block;
}

// break and reject: the current block ends here, in success or failure.
Step Run::end_block_at_once(bool success) {
    match_ = success;
    break_ = true;
    trace(ev_match);
    if (keyword_on_top()) return Step::complete;
    if (!success) set_index(second(frame() + 1));
    pos_ = rules_end();
    return Step::pop_block;
}

Step Run::push_keyword(Kind kind, const Cell& counter, int64_t rule_pos, int32_t flag) {
    Cell marker = triple(rule_pos, index(), length_from(index()));
    Cell pair{};
    pair::box(&pair, int32_t(kind), flag);
    push_frame(counter, marker, pair);
    trace(ev_push);
    pos_ = rule_pos;
    return dispatch_rule();
}

// The top keyword's rule element, tried (again) at pos_.
Step Run::dispatch_rule() {
    if (!has_element(pos_)) return Step::complete;  // an optional rule missing at the end
    return dispatch(element(pos_), true);
}

// ---- elements

Step Run::dispatch(const Cell& e, bool as_rule) {
    switch (cell::type_of(&e)) {
        case type::block: return enter_block(e);
        case type::word: {
            Keyword k = keyword_of(e);
            if (k != Keyword::none_) return keyword(k, e);
            Cell v = word_value(e);
            if (cell::is(&v, type::word)) {  // matched literally only as a keyword's rule
                if (!as_rule) error::fire(error::id::parse_rule, &e);
                literal_match(v);
                return Step::check;
            }
            return dispatch(v, as_rule);
        }
        case type::set_word: {
            Cell w = e, at = input_;
            cell::set_type(&w, type::word);
            word::set(&w, &at);
            return as_rule ? Step::check : Step::fetch;
        }
        case type::get_word: {
            Cell w = e;
            cell::set_type(&w, type::word);
            Cell v = *word::fetch(&w);
            if (!same_as_input(&v)) error::fire(error::id::parse_invalid_ref, &e);
            set_index(series::clamped_index(&v));
            match_ = true;
            return Step::check;
        }
        case type::integer: return counts(e);
        case type::paren: {
            Cell* top = stack::top;
            eval_paren(e);
            stack::top = top;
            trace(ev_paren);
            return as_rule ? Step::check : Step::fetch;
        }
        case type::datatype:
        case type::typeset:
            match_ = type_match(e);
            trace(ev_match);
            return Step::check;
        case type::path: error::fire(error::id::parse_rule, &e);
        default:
            if (as_rule && keyword_on_top()) {
                int32_t kind = frame()[2].payload2;
                if (kind == to || kind == thru) return search_value(e, Kind(kind));
                if (kind == repeat || kind == while_) return repeat_value(e);
            }
            literal_match(e);
            return Step::check;
    }
}

Step Run::counts(const Cell& n) {
    int64_t low = cell::integer(&n), high = low, rule = pos_ + 1;
    if (low < 0) error::fire(error::id::out_of_range, &n);
    if (has_element(rule)) {
        Cell m = element(rule);
        if (cell::is(&m, type::word) && keyword_of(m) == Keyword::none_) {
            Cell v = *word::fetch(&m);
            if (cell::is(&v, type::integer)) m = v;
        }
        if (cell::is(&m, type::integer)) {
            high = cell::integer(&m);
            if (high < 0) error::fire(error::id::out_of_range, &m);
            ++rule;
        }
    }
    if (!has_element(rule) || low > high) error::fire(error::id::parse_rule, &n);
    if (high == 0) {  // the rule is skipped, keyword and arguments, without being tried
        pos_ = rule_end(rule) - 1;
        match_ = true;
        return Step::check;
    }
    return push_keyword(repeat, triple(low, high, 1), rule);
}

// Where the rule that starts at p ends: past a keyword's arguments and the
// rule it takes.
int64_t Run::rule_end(int64_t p) const {
    if (!has_element(p)) return p;
    Cell e = element(p);
    if (cell::is(&e, type::integer)) {
        int64_t q = p + 1;
        if (has_element(q)) {
            Cell m = element(q);
            if (cell::is(&m, type::integer)) ++q;
        }
        return rule_end(q);
    }
    switch (keyword_of(e)) {
        case Keyword::any: case Keyword::some: case Keyword::opt: case Keyword::while_: case Keyword::to:
        case Keyword::thru: case Keyword::not_: case Keyword::ahead: case Keyword::into:
            return rule_end(p + 1);
        case Keyword::copy: case Keyword::set: case Keyword::case_: return rule_end(p + 2);
        case Keyword::quote: case Keyword::if_: return p + 2;
        case Keyword::collect: {
            Keyword m = has_element(p + 1) ? keyword_of(element(p + 1)) : Keyword::none_;
            bool modified = m == Keyword::set || m == Keyword::into || m == Keyword::after;
            return rule_end(modified ? p + 3 : p + 1);
        }
        case Keyword::keep:
            return rule_end(has_element(p + 1) && is_keyword(element(p + 1), Keyword::pick) ? p + 2 : p + 1);
        case Keyword::remove: return rule_end(p + 1);
        case Keyword::insert: {
            int64_t q = p + 1;
            if (has_element(q) && is_keyword(element(q), Keyword::only)) ++q;
            return q + 1;  // the value (a marked position before it is not told apart)
        }
        case Keyword::change: {
            int64_t q = p + 1;
            if (has_element(q) && is_keyword(element(q), Keyword::only)) ++q;
            return rule_end(q) + 1;  // the rule (or position), then the value
        }
        default: return p + 1;
    }
}

Step Run::keyword(Keyword k, const Cell& w) {
    // The keywords that take a rule or an argument need one after them.
    auto need_next = [&](int64_t p) {
        if (!has_element(p)) error::fire(error::id::parse_end, &w);
    };
    switch (k) {
        case Keyword::bar:
            pos_ = rules_end();
            return Step::block_end;
        case Keyword::skip:
            match_ = !at_end();
            if (match_) set_index(index() + 1);
            trace(ev_match);
            return Step::check;
        case Keyword::any: need_next(pos_ + 1); return push_keyword(repeat, triple(0, -1, 1), pos_ + 1);
        case Keyword::some: need_next(pos_ + 1); return push_keyword(repeat, triple(1, -1, 1), pos_ + 1);
        case Keyword::opt: need_next(pos_ + 1); return push_keyword(repeat, triple(0, 1, 1), pos_ + 1);
        case Keyword::while_: need_next(pos_ + 1); return push_keyword(while_, triple(0, -1, 1), pos_ + 1);
        case Keyword::to:
        case Keyword::thru: {
            need_next(pos_ + 1);
            Cell next = element(pos_ + 1);
            if (is_keyword(next, Keyword::end)) {
                set_index(end_index());
                ++pos_;
                match_ = true;
                trace(ev_match);
                return Step::check;
            }
            return push_keyword(k == Keyword::to ? to : thru, triple(0, 0, 1), pos_ + 1);
        }
        case Keyword::not_: need_next(pos_ + 1); return push_keyword(not_, triple(0, 0, 1), pos_ + 1);
        case Keyword::ahead: need_next(pos_ + 1); return push_keyword(ahead, triple(0, 0, 1), pos_ + 1);
        case Keyword::into: {
            if (!block_input()) error::fire(error::id::parse_block, &input_);
            need_next(pos_ + 1);
            Cell rule = element(pos_ + 1);
            if (cell::is(&rule, type::word) && keyword_of(rule) == Keyword::none_) rule = *word::fetch(&rule);
            if (!cell::is(&rule, type::block)) error::fire(error::id::parse_end, &w);
            Cell value = at_end() ? Cell{type::none, 0, 0, 0} : cells(&input_)[index()];
            uint8_t vt = cell::type_of(&value);
            if (!series::is_any_block(vt) && !series::is_text(vt) && vt != type::binary) {
                ++pos_;
                match_ = false;
                return Step::check;
            }
            // The outer input waits on the input stack at its position.
            cells(input_stack)[count(input_stack) - 1] = input_;
            check_stacks();
            block::ks_append(input_stack, &value);
            input_ = value;
            return push_keyword(into, triple(0, 0, 1), pos_ + 1);
        }
        case Keyword::quote:
            need_next(pos_ + 1);
            ++pos_;
            literal_match(element(pos_));
            return Step::check;
        case Keyword::none:
            match_ = true;
            trace(ev_match);
            return Step::check;
        case Keyword::end:
            match_ = at_end();
            trace(ev_match);
            return Step::check;
        case Keyword::if_: {
            need_next(pos_ + 1);
            Cell paren = element(pos_ + 1);
            if (!cell::is(&paren, type::paren)) error::fire(error::id::parse_end, &w);
            ++pos_;
            Cell* top = stack::top;
            match_ = natives::truthy(eval_paren(paren));
            stack::top = top;
            trace(ev_match);
            return Step::check;
        }
        case Keyword::fail:
            match_ = false;
            trace(ev_match);
            return Step::check;
        case Keyword::break_: return end_block_at_once(true);
        case Keyword::reject: return end_block_at_once(false);
        case Keyword::case_: {
            need_next(pos_ + 1);
            Cell flag = element(pos_ + 1);
            if (!cell::is(&flag, type::word)) error::fire(error::id::parse_end, &w);
            need_next(pos_ + 2);
            int32_t saved = mode_;
            mode_ = natives::truthy(word::fetch(&flag)) ? compare_op::strict_equal : compare_op::equal;
            return push_keyword(case_, triple(0, saved, 1), pos_ + 2);
        }
        case Keyword::copy:
        case Keyword::set: {
            need_next(pos_ + 1);
            Cell target = element(pos_ + 1);
            if (!cell::is(&target, type::word)) error::fire(error::id::parse_end, &w);
            need_next(pos_ + 2);
            return push_keyword(k == Keyword::copy ? copy : set, target, pos_ + 2);
        }
        case Keyword::collect: return collect_keyword(w);
        case Keyword::keep: return keep_keyword(w);
        case Keyword::insert: return insert_keyword(w);
        case Keyword::change: return change_keyword(w);
        case Keyword::remove: return remove_keyword(w);
        default: {  // only, pick, after out of place stand for their values
            Cell v = word_value(w);
            return dispatch(v, false);
        }
    }
}

// ---- keyword completion

Step Run::complete() {
    Cell* f = frame();
    Cell counter = f[0];
    Cell marker = f[1];
    int32_t kind = int32_t(f[2].payload2), flag = int32_t(f[2].payload3);
    int64_t start = second(&marker);
    switch (kind) {
        case repeat:
        case while_: {
            int64_t min = first(&counter), max = second(&counter), n = third(&counter);
            bool stop = break_;
            break_ = false;
            if (match_) {
                // A pass that moved nothing would move nothing again: the
                // count is as good as reached.
                bool progress = index() != start || length_from(index()) < third(&marker);
                if (kind == repeat && !progress) break;
                if (max >= 0 && n >= max) stop = true;
                if (!stop) {
                    f[1] = triple(first(&marker), index(), length_from(index()));
                    f[0] = triple(min, max, n + 1);
                    trace(ev_iterate);
                    pos_ = first(&marker);
                    return dispatch_rule();
                }
                match_ = n >= min;
            } else {
                set_index(start);  // the failed pass gives back what it matched
                match_ = n - 1 >= min || min == 0;
            }
            break;
        }
        case to:
        case thru:
            if (match_) {
                if (kind == to) set_index(start);
                break;
            }
            if (start + 1 > end_index()) break;  // nowhere left to try
            f[1] = triple(first(&marker), start + 1, length_from(start + 1));
            set_index(start + 1);
            trace(ev_pop);
            trace(ev_iterate);
            pos_ = first(&marker);
            match_ = true;
            return dispatch_rule();
        case not_:
            match_ = !match_;
            set_index(start);
            break;
        case ahead: set_index(start); break;
        case case_: mode_ = second(&counter); break;
        case into: {
            bool whole = match_ && index() >= tail();
            cut(input_stack, count(input_stack) - 1);
            input_ = cells(input_stack)[count(input_stack) - 1];
            match_ = whole;
            if (whole) set_index(index() + 1);
            break;
        }
        case copy:
            if (match_) {
                Cell* top = stack::top;
                Cell made = *copy_input(start, index());
                word::set(&counter, &made);
                stack::top = top;
            }
            break;
        case set:
            if (match_) {
                Cell v = index() > start ? value_at(start) : Cell{type::none, 0, 0, 0};
                word::set(&counter, &v);
            }
            break;
        case remove:
            if (match_ && index() > start) {
                Cell at = input_;
                at.payload1 = uint32_t(start);
                Cell part{};
                cell::set_integer(&part, int32_t(index() - start));
                actions::handler<actions::Remove>(input_type(), action::remove, &at)(&at, &part, nullptr);
                set_index(start);
            }
            break;
        case change:
        case change_only: {
            if (!has_element(pos_ + 1)) error::fire(error::id::parse_end, &keyword_word("change"));
            ++pos_;
            if (match_) {
                Cell* top = stack::top;
                Cell* value = operand(pos_);
                Cell at = input_;
                at.payload1 = uint32_t(start);
                actions::handler<actions::Change>(input_type(), action::change, &at)(
                    &at, value, int32_t(index() - start), kind == change_only, 1);
                stack::top = top;
                set_index(series::index_of(&at));
            }
            break;
        }
        case collect: finish_collect(&counter); break;
        case keep: if (match_) finish_keep(&marker, flag); break;
        default: break;
    }
    // A rule that failed consumes nothing.
    if (!match_ && kind != into) set_index(start);
    trace(ev_pop);
    drop_frame();
    // The frame below learns which keyword just ended (keep reads it).
    if (depth() >= rule_head + 3) frame()[1].payload3 = uint32_t(kind);
    return Step::check;
}

// ---- collect and keep

// Whether a collect into/after target may take values of this input.
bool compatible(uint8_t target, uint8_t input) {
    if (target == input) return true;
    if (series::is_any_block(target) && series::is_any_block(input)) return true;
    auto bytes_or_text = [](uint8_t t) { return series::is_text(t) || t == type::binary; };
    return bytes_or_text(target) && bytes_or_text(input);
}

Step Run::collect_keyword(const Cell& w) {
    int64_t p = pos_ + 1;
    if (!has_element(p)) error::fire(error::id::parse_end, &w);
    Cell modifier = element(p);
    Keyword m = keyword_of(modifier);
    int64_t saved = 0;
    ++collects_;
    if (m == Keyword::set || m == Keyword::into || m == Keyword::after) {
        Cell target = has_element(p + 1) ? element(p + 1) : Cell{type::none, 0, 0, 0};
        if (!cell::is(&target, type::word)) error::fire(error::id::parse_end, &w);
        if (m == Keyword::set) {
            stack::push(&target);
            block::push_new(8);
        } else {
            Cell series = *word::fetch(&target);
            if (!series::is_series(cell::type_of(&series)) || !compatible(cell::type_of(&series), input_type()))
                error::fire(error::id::parse_into_type);
            if (series.payload2 == input_.payload2) error::fire(error::id::parse_into_bad);
            saved = series::index_of(&series);
            Cell* held = stack::push(&target);
            cell::set_type(held, m == Keyword::into ? type::get_word : type::refinement);
        }
        p += 2;
    } else {
        block::push_new(8);
    }
    if (!has_element(p)) error::fire(error::id::parse_end, &w);
    return push_keyword(collect, triple(0, saved, 1), p);
}

void Run::finish_collect(const Cell* counter) {
    --collects_;
    Cell* top = stack::last();
    if (cell::is(top, type::block)) {
        if (top - 1 == scratch) return;  // the outermost collect: the run's result
        Cell collected = *top;
        Cell* below = top - 1;
        switch (cell::type_of(below)) {
            case type::word:
                word::set(below, &collected);
                stack::top = below;
                return;
            case type::block:
                block::ks_append(below, &collected);
                stack::top = top;
                return;
            default:  // an enclosing into/after target
                keep_value(below, collected, true);
                stack::top = top;
                return;
        }
    }
    // An into/after target: its position goes back to where it was.
    Cell w = *top;
    cell::set_type(&w, type::word);
    Cell* value = word::fetch(&w);
    if (series::is_series(cell::type_of(value))) value->payload1 = uint32_t(second(counter));
    stack::top = top;
}

// Puts a kept value into the innermost collect's entry on the stack: its
// block, or its into or after target's series.
void Run::keep_value(Cell* target, const Cell& value, bool only) {
    Cell v = value;
    if (cell::is(target, type::block)) {
        Cell b = *target;
        actions::handler<actions::Insert>(type::block, action::append, &b)(&b, &v, -1, only, 1, true);
        return;
    }
    Cell w = *target;
    bool after = cell::is(&w, type::refinement);
    cell::set_type(&w, type::word);
    Cell* slot = word::fetch(&w);
    Cell series = *slot;
    uint8_t t = cell::type_of(&series);
    actions::handler<actions::Insert>(t, after ? action::append : action::insert, &series)(&series, &v, -1, only, 1,
                                                                                        after);
    // into goes on after what it inserted.
    if (!after) word::fetch(&w)->payload1 = series.payload1;
}

// The element after the keyword at pos_ and its optional modifier (only,
// pick); the error `missing` with the keyword when there is none.
int64_t Run::after_modifier(Keyword modifier, const Cell& w, error::Id missing, bool* given) const {
    int64_t p = pos_ + 1;
    if (!has_element(p)) error::fire(missing, &w);
    *given = is_keyword(element(p), modifier);
    if (*given) ++p;
    if (!has_element(p)) error::fire(missing, &w);
    return p;
}

Step Run::keep_keyword(const Cell& w) {
    if (collects_ == 0) error::fire(error::id::parse_keep);
    bool pick;
    int64_t p = after_modifier(Keyword::pick, w, error::id::parse_end, &pick);
    Cell rule = element(p);
    if (cell::is(&rule, type::paren)) {  // keep (expression): its value
        pos_ = p;
        Cell* target = stack::last();
        Cell* v = eval_paren(rule);
        trace(ev_paren);
        keep_value(target, *v, !pick);
        stack::top = v;
        match_ = true;
        return Step::check;
    }
    return push_keyword(keep, triple(0, 0, 1), p, pick ? 1 : 0);
}

void Run::finish_keep(const Cell* marker, int32_t pick) {
    int64_t start = second(marker), end = index();
    Cell* target = stack::last();
    if (!cell::is(target, type::block)) {
        Cell w = *target;
        cell::set_type(&w, type::word);
        if (!compatible(cell::type_of(word::fetch(&w)), input_type())) error::fire(error::id::parse_into_type);
    }
    // keep copy x rule: the very value copy set.
    Cell rule = element(first(marker));
    if (third(marker) == copy && !pick && is_keyword(rule, Keyword::copy)) {
        Cell w = element(first(marker) + 1);
        keep_value(target, *word::fetch(&w), true);
        return;
    }
    if (pick) {
        for (int64_t i = start; i < end; ++i) keep_value(target, value_at(i), true);
        return;
    }
    if (end - start == 1) {
        keep_value(target, value_at(start), true);
    } else if (end > start) {
        Cell* top = stack::top;
        Cell run = *copy_input(start, end);
        keep_value(target, run, true);
        stack::top = top;
    }
}

// ---- the modifying keywords

Step Run::insert_keyword(const Cell& w) {
    bool only;
    int64_t p = after_modifier(Keyword::only, w, error::id::parse_end, &only);
    int64_t at = index();
    Cell e = element(p);
    if (cell::is(&e, type::word) || cell::is(&e, type::get_word)) {
        Cell name = e;
        cell::set_type(&name, type::word);
        if (keyword_of(name) == Keyword::none_) {
            Cell v = *word::fetch(&name);
            if (same_as_input(&v)) {  // insert at a marked position
                at = series::clamped_index(&v);
                ++p;
                if (!has_element(p)) error::fire(error::id::parse_rule, &w);
            }
        }
    }
    pos_ = p;
    Cell* top = stack::top;
    Cell* value = operand(p);
    Cell series = input_;
    series.payload1 = uint32_t(at);
    int64_t before = tail();
    actions::handler<actions::Insert>(input_type(), action::insert, &series)(&series, value, -1, only, 1, false);
    stack::top = top;
    int64_t added = tail() - before;
    if (at == index()) set_index(series::index_of(&series));
    else if (at < index()) set_index(index() + added);
    match_ = true;
    return Step::check;
}

Step Run::change_keyword(const Cell& w) {
    bool only;
    int64_t p = after_modifier(Keyword::only, w, error::id::parse_rule, &only);
    Cell e = element(p);
    if (cell::is(&e, type::word) && keyword_of(e) == Keyword::none_) {
        Cell v = *word::fetch(&e);
        if (same_as_input(&v)) {  // change up to a marked position
            if (!has_element(p + 1)) error::fire(error::id::parse_end, &w);
            pos_ = p + 1;
            Cell* top = stack::top;
            Cell* value = operand(pos_);
            int64_t mark = series::clamped_index(&v), from = std::min(mark, index()), to = std::max(mark, index());
            set_index(from);
            Cell series = input_;
            actions::handler<actions::Change>(input_type(), action::change, &series)(&series, value,
                                                                                  int32_t(to - from), only, 1);
            stack::top = top;
            match_ = true;
            return Step::check;
        }
    }
    return push_keyword(only ? change_only : change, triple(0, 0, 1), p);
}

Step Run::remove_keyword(const Cell& w) {
    int64_t p = pos_ + 1;
    if (!has_element(p)) error::fire(error::id::parse_end, &w);
    Cell e = element(p);
    if (cell::is(&e, type::path)) error::fire(error::id::parse_rule, &e);
    if (cell::is(&e, type::word) && keyword_of(e) == Keyword::none_) {
        Cell v = *word::fetch(&e);
        if (same_as_input(&v)) {  // remove from a marked position up to here
            pos_ = p;
            int64_t mark = series::clamped_index(&v), from = std::min(mark, index()), to = std::max(mark, index());
            Cell at = input_;
            at.payload1 = uint32_t(from);
            Cell part{};
            cell::set_integer(&part, int32_t(to - from));
            actions::handler<actions::Remove>(input_type(), action::remove, &at)(&at, &part, nullptr);
            set_index(from);
            match_ = true;
            return Step::check;
        }
    }
    return push_keyword(remove, triple(0, 0, 1), p);
}

// ---- the loop

bool Run::run() {
    block::ks_append(input_stack, &input_);
    Cell top_rules = rules_;
    // The top-level frame: entering the rules as a block.
    Cell none{type::none, 0, 0, 0};
    push_frame(none, triple(-1, index(), length_from(index())), top_rules);
    pos_ = int64_t(series::clamped_index(&rules_)) - 1;
    trace(ev_push);
    Step step = Step::fetch;
    while (step != Step::done) {
        switch (step) {
            case Step::fetch:
                ++pos_;
                if (!has_element(pos_)) {
                    step = Step::block_end;
                    break;
                }
                trace(ev_fetch);
                step = dispatch(element(pos_), false);
                break;
            case Step::check:
                step = keyword_on_top() ? Step::complete : match_ ? Step::fetch : Step::backtrack;
                break;
            case Step::block_end: step = keyword_on_top() ? Step::complete : Step::pop_block; break;
            case Step::backtrack: step = backtrack(); break;
            case Step::pop_block: step = pop_block(); break;
            case Step::complete: step = complete(); break;
            case Step::done: break;
        }
    }
    // Matched: the rules ran to their end and the input is used up.
    if (match_ && pos_ < rules_end()) match_ = false;
    if (match_ && index() < end_index()) match_ = false;
    trace(ev_end);
    return match_;
}

}  // namespace

void init() {
    collector::RootCell made;
    block::make_at(&made.cell, 8);
    input_stack = root::record(&made.cell);
    block::make_at(&made.cell, 100);
    rule_stack = root::record(&made.cell);
    static const std::pair<const char*, Keyword> vocabulary[] = {
        {"any", Keyword::any},       {"break", Keyword::break_},   {"copy", Keyword::copy},
        {"end", Keyword::end},       {"fail", Keyword::fail},      {"into", Keyword::into},
        {"opt", Keyword::opt},       {"not", Keyword::not_},       {"quote", Keyword::quote},
        {"case", Keyword::case_},    {"reject", Keyword::reject},  {"set", Keyword::set},
        {"skip", Keyword::skip},     {"some", Keyword::some},      {"thru", Keyword::thru},
        {"to", Keyword::to},         {"none", Keyword::none},      {"if", Keyword::if_},
        {"remove", Keyword::remove}, {"while", Keyword::while_},   {"insert", Keyword::insert},
        {"only", Keyword::only},     {"collect", Keyword::collect}, {"keep", Keyword::keep},
        {"pick", Keyword::pick},     {"ahead", Keyword::ahead},    {"after", Keyword::after},
        {"change", Keyword::change},
    };
    keywords.clear();
    for (const auto& [name, k] : vocabulary) keywords[symbol::resolve(symbol::make(name))] = k;
    bar_symbol = symbol::make("|");
    static const char* const events[event_count] = {"push", "pop", "fetch", "match", "iterate", "paren", "end"};
    for (int e = 0; e < event_count; ++e) event_symbols[e] = symbol::make(events[e]);
    callback_symbol = symbol::make("parse-callback");
    input_head = rule_head = 0;
}

uint32_t process(const Cell* input, const Cell* rules, int32_t mode, int64_t limit, const Cell* callback) {
    Cell* result = stack::push_slot();
    cell::set_unset(result);
    StackGuard guard;
    Run run(input, rules, mode, limit, callback);
    run.scratch = result;
    bool matched;
    try {
        matched = run.run();
    } catch (const Stopped& stop) {
        // the callback ended the run: the match flag as it stood
        matched = stop.match;
        stack::top = result + 1;
        cell::set_logic(result, matched);
        return 0;
    } catch (const Exit& e) {
        return e.code;
    }
    // A top-level collect's block is the result; else the match.
    if (stack::top > result + 1 && cell::is(result + 1, type::block)) {
        *result = result[1];
    } else {
        cell::set_logic(result, matched);
    }
    stack::top = result + 1;
    return 0;
}

}  // namespace kel::parse

namespace kel::natives {

// parse input rules /case /part length /trace callback
uint32_t parse_native(const Call& call) {
    enum { case_, part, trace };
    Cell* base = stack::args;
    Cell input = base[0];
    int64_t index = series::clamped_index(&input);
    input.payload1 = uint32_t(index);
    int64_t limit = 0;
    if (call.refs[part] >= 0) {
        const Cell* length = base + call.refs[part];
        if (cell::is(length, type::integer) || cell::is(length, type::float_)) {
            double n = cell::is(length, type::integer) ? cell::integer(length) : cell::real(length);
            limit = index + int64_t(std::clamp(n, -2147483648.0, 2147483647.0));
        } else {
            if (cell::type_of(length) != cell::type_of(&input) || length->payload2 != input.payload2)
                error::fire_bad_refinement(words::refinements.part, length);
            limit = series::clamped_index(length);
        }
        if (limit < 1) {  // nothing to match: true exactly for empty input
            Cell r{};
            cell::set_logic(&r, series::length_from(&input) == 0);
            stack::set_result(&r);
            return 0;
        }
    }
    const Cell* callback = call.refs[trace] >= 0 ? base + call.refs[trace] : nullptr;
    int32_t mode = call.refs[case_] >= 0 ? compare_op::strict_equal : compare_op::equal;
    if (uint32_t pending = parse::process(&input, base + 1, mode, limit, callback))
        return pending;
    stack::set_result(stack::last());
    return 0;
}

}  // namespace kel::natives
