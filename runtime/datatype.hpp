// The datatype registry. Every datatype is one module that registers, at
// start-up, its name, its parent and its 62 action handlers. Two tables come
// out of it: the type-name table and the action table (one row of handlers
// per type id), from which dispatch picks a handler by a direct index.
// Inheritance is resolved once, at registration, by copying the parent's
// handler into every slot the child marks `inherit`: parents register first.
#pragma once
#include <cstdint>
#include <span>

#include "runtime/cell.hpp"

namespace kel {

// Action slots, numbered from 1 in their fixed order.
// ORDER: environment/actions.kel gives each action the same slot, and the
// rows of actions.cpp name them in this order; start-up checks the names.
namespace action {
enum Slot : uint8_t {
    make = 1, random, reflect, to, form, mold, eval_path, set_path, compare, absolute,
    add, divide, multiply, negate, power, remainder, round, subtract, even_q, odd_q,
    and_, complement, or_, xor_, append, at, back, change, clear, copy,
    find, head, head_q, index_q, insert, length_q, move, next, pick, poke,
    put, remove, reverse, select, sort, skip, swap, tail, tail_q, take,
    trim, create, close, delete_, modify, open, open_q, query, read, rename,
    update, write,
};
constexpr int count = 62;
}  // namespace action

// An entry of the action table. Its real signature is fixed by its slot; the
// callers of a slot cast it back (see actions::handler).
using Handler = void (*)();

namespace datatype {

// A handler word of a registration: the slot takes its parent's handler.
void inherit_marker();
inline const Handler inherit = &inherit_marker;
constexpr Handler unsupported = nullptr;

template <class Fn>
Handler entry(Fn* f) {
    return reinterpret_cast<Handler>(f);
}

struct TypeName {
    const char* name = nullptr;  // "integer!"
    uint32_t length = 0;         // without the final "!"
    Cell* word = nullptr;        // the name as a word, once symbols exist
};

struct Registration {
    uint8_t type;
    uint8_t parent;  // 0: none
    const char* name;
    std::span<const Handler> handlers;  // one per action slot, in slot order
};

// A row of handlers being put together by a datatype module: every slot
// starts as `fill` (unsupported, or inherit for a child type).
struct Row {
    Handler handlers[action::count];
    explicit Row(Handler fill) {
        for (Handler& h : handlers) h = fill;
    }
    template <class Fn>
    Row& set(action::Slot s, Fn* f) {
        handlers[s - 1] = entry(f);
        return *this;
    }
};

extern TypeName names[type::count];
extern Handler actions[type::count][action::count];
extern uint8_t highest;  // largest type id registered so far

// Fills the type's name entry and its row of the action table. A record
// without exactly 62 handlers is reported and ends the process.
void register_type(const Registration& r);

// Empties the registry: no type has a name or a handler (start-up, before
// the registrations; a type registered later, as event! is, goes again).
void reset();

// The registered type's name as a global word holding its datatype! value
// (start-up; and a type registered later, such as event!).
void make_name_word(uint8_t t);

inline Handler handler(uint8_t t, action::Slot s) { return actions[t][s - 1]; }

// The datatype! type itself.
void register_datatype();
int32_t form(const Cell* value, Cell* out, const Cell* arg, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

}  // namespace datatype
}  // namespace kel
