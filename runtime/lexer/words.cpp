// Word tokens: words and their set-, get- and lit- forms, refinements,
// issues, and the constructions #(name).
#include <cstring>

#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/issue.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/lexer/state.hpp"
#include "runtime/symbol.hpp"
#include "runtime/unicode.hpp"

namespace kel::lexer {
namespace {

bool valid_utf8(const uint8_t* p, const uint8_t* end) {
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        int32_t cp;
        p = unicode::decode_utf8_char(p, end, &cp);
        if (cp < 0) return false;
    }
    return true;
}

uint32_t make_symbol(State& s, const uint8_t* start, const uint8_t* end, uint8_t t) {
    if (!valid_utf8(start, end)) throw_error(s, start, t);
    return symbol::make_len(reinterpret_cast<const char*>(start), size_t(end - start));
}

bool same_text(const uint8_t* a, size_t n, const char* name) {
    if (std::strlen(name) != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (uint8_t(a[i] | 0x20) != uint8_t(name[i] | 0x20)) return false;
    return true;
}

}  // namespace

const uint8_t* skip_unicode_spaces(const uint8_t* p, const uint8_t* end) {
    while (p < end && *p >= 0x80) {
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_char(p, end, &cp);
        if (cp < 0 || !is_unicode_space(uint32_t(cp))) break;
        p = next;
    }
    return p;
}

const uint8_t* cut_at_unicode_space(const uint8_t* p, const uint8_t* end) {
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_char(p, end, &cp);
        if (cp >= 0 && is_unicode_space(uint32_t(cp))) return p;
        p = next;
    }
    return end;
}

// Decides the word's type from its colons and apostrophe.
void check_word(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
    uint8_t t = type::word;
    bool leading_colon = *start == ':';
    bool trailing_colon = end - start > 1 && end[-1] == ':';
    if (flags & flag::colon) {
        if (leading_colon && trailing_colon) throw_error(s, start, type::word);
        for (const uint8_t* p = start + 1; p < end - 1; ++p)
            if (*p == ':') throw_error(s, start, type::word);
        if (leading_colon) t = type::get_word;
        else if (trailing_colon) t = type::set_word;
    }
    if (*start == '\'') {
        if (trailing_colon) throw_error(s, start, type::lit_word);
        t = type::lit_word;
    }
    s.type_override = t;
    s.token_type = t;
}

void check_issue(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    if (end - start < 2) throw_error(s, start, type::issue);
    for (const uint8_t* p = start + 1; p < end; ++p)
        if (*p == ':' || *p == '/') throw_error(s, start, type::issue);
    s.type_override = type::issue;
    s.token_type = type::issue;
}

// Builds the word or issue the structural routine classified.
void load_word(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    auto t = uint8_t(s.type_override);
    s.type_override = -1;
    const uint8_t* name = start;
    const uint8_t* name_end = end;
    if (t == type::issue || t == type::get_word || t == type::lit_word) ++name;
    if (t == type::set_word) --name_end;
    uint32_t sym = make_symbol(s, name, name_end, t == type::issue ? type::issue : type::word);
    if (!load) return;
    Cell w{};
    if (t == type::issue) {
        w = Cell{type::issue, context::global, sym, uint32_t(-1)};
    } else {
        word::make_in(sym, &w);
        cell::set_type(&w, t);
    }
    Cell* c = grow_buffer(s);
    w.header = (w.header & ~cell::newline_flag) | (c->header & cell::newline_flag);
    *c = w;
}

void load_refinement(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    uint32_t sym = make_symbol(s, start + 1, end, type::refinement);
    if (!load) return;
    Cell* c = grow_buffer(s);
    *c = Cell{(c->header & cell::newline_flag) | type::refinement, 0, sym, uint32_t(-1)};
}

// #(name): true, false, none, unset, or a datatype named by the name or a
// leading part of it.
void load_construction(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* name = start + 2;
    auto n = size_t(end - name);
    Cell v{};
    if (same_text(name, n, "true")) cell::set_logic(&v, true);
    else if (same_text(name, n, "false")) cell::set_logic(&v, false);
    else if (same_text(name, n, "none")) cell::set_none(&v);
    else if (same_text(name, n, "unset")) cell::set_unset(&v);
    else {
        int found = 0;
        // An empty name would be a leading part of every name.
        for (int t = 1; n > 0 && t <= datatype::highest && !found; ++t) {
            const char* full = datatype::names[t].name;
            if (!full || std::strlen(full) < n) continue;
            bool prefix = true;
            for (size_t i = 0; i < n && prefix; ++i) prefix = uint8_t(name[i] | 0x20) == uint8_t(full[i] | 0x20);
            if (prefix) found = t;
        }
        if (!found) throw_error(s, start, err_malconstruct);
        cell::set_datatype(&v, uint8_t(found));
    }
    s.value_done = true;
    if (!load) return;
    Cell* c = grow_buffer(s);
    v.header |= c->header & cell::newline_flag;
    *c = v;
}

}  // namespace kel::lexer
