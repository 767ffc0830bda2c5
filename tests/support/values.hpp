// Values for the series tests: a fixture for the series types, a small reader that turns text such as `[a "s" 1 [b] c/d:]` into cells,
// and calls through the action wrappers with a stack frame of their own.
//
// The reader knows blocks, parens, strings, integers, decimals, the word
// types, the four path types and `#none`; a line break before a value sets
// its new-line marker.
//
// The series these helpers make and the results of run and copy_of stay alive
// until the test ends (keep.hpp), so a test may hold them in locals across
// calls that collect.
#pragma once
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "runtime/actions.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/path.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"
#include "tests/support/runtime.hpp"

namespace kel::test {

// A datatype! value of the type.
inline Cell type_cell(uint8_t t) {
    Cell d{};
    cell::set_datatype(&d, t);
    return d;
}

// The value core, with every datatype registered.
using WithSeries = WithRuntime;

// ---- values

inline Cell num(int32_t v) {
    Cell c{};
    cell::set_integer(&c, v);
    return c;
}

inline Cell dec(double v) {
    Cell c{};
    cell::set_real(&c, type::float_, v);
    return c;
}

inline Cell word_of(const char* name, uint8_t t = type::word) {
    Cell w{type::word, 0, symbol::make(name), uint32_t(-1)};
    word::make_in(w.payload2, &w);
    cell::set_type(&w, t);
    return w;
}

inline Cell text(const char* s) {
    Cell& c = keep();
    string::make_from_utf8(&c, s, std::strlen(s));
    return c;
}

inline Cell at(Cell series, int32_t index) {
    series.payload1 = uint32_t(index);
    return series;
}

inline Cell* cell_at(const Cell& block, int32_t i) { return block::ks_abs_at(&block, i); }

// ---- the reader

class Reader {
public:
    explicit Reader(const char* text) : p_(text) {}

    // The values of the text, in a block!.
    Cell read_all() {
        Cell& b = keep();
        block::make_at(&b, 4);
        read_into(b, '\0');
        return b;
    }

private:
    const char* p_;

    void read_into(Cell& b, char close) {
        for (;;) {
            bool line = false;
            while (*p_ == ' ' || *p_ == '\n' || *p_ == '\t') line |= *p_++ == '\n';
            if (*p_ == close) {
                if (close) ++p_;
                return;
            }
            Cell v = read_value();
            if (line) v.header |= cell::newline_flag;
            block::ks_append(&b, &v);
        }
    }

    Cell read_value() {
        char c = *p_;
        if (c == '[' || c == '(') {
            ++p_;
            Cell& b = keep();
            block::make_at(&b, 4, c == '[' ? type::block : type::paren);
            read_into(b, c == '[' ? ']' : ')');
            return b;
        }
        if (c == '"') {
            const char* start = ++p_;
            while (*p_ != '"') ++p_;
            Cell& s = keep();
            string::make_from_utf8(&s, start, size_t(p_++ - start));
            return s;
        }
        const char* start = p_;
        while (*p_ && !std::strchr(" \n\t[]()\"", *p_)) ++p_;
        return token(std::string(start, p_));
    }

    static Cell token(std::string t) {
        if (t == "#none") return Cell{type::none, 0, 0, 0};
        if (t.size() > 1 && t.find('/', 1) != std::string::npos) return read_path(t);
        bool digit = std::isdigit(uint8_t(t[0])) || (t.size() > 1 && t[0] == '-' && std::isdigit(uint8_t(t[1])));
        if (digit) return t.find('.') == std::string::npos ? num(std::stoi(t)) : dec(std::stod(t));
        if (t[0] == '\'') return word_of(t.c_str() + 1, type::lit_word);
        if (t[0] == ':') return word_of(t.c_str() + 1, type::get_word);
        if (t[0] == '/') return word_of(t.c_str() + 1, type::refinement);
        if (t.back() == ':') return word_of(t.substr(0, t.size() - 1).c_str(), type::set_word);
        return word_of(t.c_str());
    }

    static Cell read_path(std::string t) {
        uint8_t kind = type::path;
        if (t[0] == '\'') kind = type::lit_path, t.erase(0, 1);
        else if (t[0] == ':') kind = type::get_path, t.erase(0, 1);
        else if (t.back() == ':') kind = type::set_path, t.pop_back();
        Cell& p = keep();
        block::make_at(&p, 2, kind);
        for (size_t at = 0;;) {
            size_t slash = t.find('/', at);
            Cell item = token(t.substr(at, slash - at));
            block::ks_append(&p, &item);
            if (slash == std::string::npos) return p;
            at = slash + 1;
        }
    }
};

// The values of the text in a block!.
inline Cell load(const char* text) { return Reader(text).read_all(); }
// The first value of the text.
inline Cell load1(const char* text) { return *cell_at(load(text), 0); }

// ---- calls

// Puts the stacks back as they were, however the call ends.
struct StackScope {
    Cell* top = stack::top;
    Cell* args = stack::args;
    stack::Frame* frame_top = stack::frame_top;
    ~StackScope() {
        stack::top = top;
        stack::args = args;
        stack::frame_top = frame_top;
    }
};

// Runs the action's wrapper in a frame of its own with the arguments; refs
// holds, per refinement, -1 or the argument index it reads. Answers args[0].
inline Cell run(action::Slot slot, std::initializer_list<Cell> args, std::vector<int32_t> refs = {}) {
    StackScope scope;
    stack::mark_native(nullptr);
    for (const Cell& a : args) stack::push(&a);
    refs.resize(16, -1);
    actions::table[slot - 1](Call{false, refs.data()});
    return keep(*stack::args);
}

struct MoldFlags {
    bool only = false, all = false, flat = false;
    int32_t part = -1;  // no /part
};

inline std::string mold(const Cell& v, MoldFlags f = {}) {
    std::vector<int32_t> refs{f.only ? 0 : -1, f.all ? 0 : -1, f.flat ? 0 : -1, f.part >= 0 ? 1 : -1};
    Cell r = f.part >= 0 ? run(action::mold, {v, num(f.part)}, refs) : run(action::mold, {v}, refs);
    return string::to_utf8(&r);
}

inline std::string form(const Cell& v, int32_t part = -1) {
    Cell r = part >= 0 ? run(action::form, {v, num(part)}, {1}) : run(action::form, {v});
    return string::to_utf8(&r);
}

// copy, through the handler of the value's type as its wrapper calls it.
inline Cell copy_of(const Cell& v, const Cell* part = nullptr, bool deep = false, const Cell* kind = nullptr) {
    StackScope scope;
    Cell source = v;
    Cell& result = keep();
    cell::set_unset(&result);
    return *actions::handler<actions::Copy>(cell::type_of(&v), action::copy, &v)(&source, &result, part, deep, kind);
}

// The id of the error the body raises, or "" when it raises none.
template <class Body>
std::string error_of(Body&& body) {
    StackScope scope;
    uint32_t code = throws::protect(throws::error, body);
    return code == throws::error ? error::pending.id : "";
}

}  // namespace kel::test
