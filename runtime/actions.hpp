// The 62 actions: polymorphic operations whose handler is chosen by the type
// of the first argument, through the action table of the datatype registry.
//
// Every datatype module implements the handlers of its row with the
// signature of each slot below. A refinement that was not used arrives as a
// null cell pointer or a false flag. Cells passed are argument-stack cells
// (they do not move); a handler that allocates must re-read any series
// buffer through its node afterwards.
//
// Natives and the action wrappers share one entry signature: they find their
// arguments at stack::args[0 ...] and their refinements as stack indices in
// the call record, leave their result in args[0], and answer the pending
// non-local exit code (0 when none).
#pragma once
#include <cstdint>
#include <span>

#include "runtime/cell.hpp"
#include "runtime/datatype.hpp"

namespace kel {

struct Call {
    bool check = false;              // natives: check the argument types first
    const int32_t* refs = nullptr;   // per refinement: -1 unused, else its first argument's stack index
};
using Entry = uint32_t (*)(const Call& call);

// A row of the natives table or of the action wrappers: the 1-based index a
// native! or action! value holds, the name its word has in the boot
// environment, and its entry (null: none yet).
struct EntryRow {
    uint32_t index;
    const char* name;
    Entry entry;
};

// The codes of the compare action (the op of every compare handler). A
// handler answers -1, 0 or 1 as a is less than, equal to or greater than b
// under the code's rules, or -2 when the two cannot be compared under them.
namespace compare_op {
enum : int32_t {
    equal,             // equal?: case folded, related types compared by value
    not_equal,         // not-equal?
    strict_equal,      // strict-equal?: same type, exact case
    lesser,            // lesser?
    lesser_or_equal,   // lesser-or-equal?
    greater,           // greater?
    greater_or_equal,  // greater-or-equal?
    sort,              // the order of sort, case folded
    sort_case,         // the order of sort/case
    same,              // same?: the same value (the same series at the same index, the same binding)
    match_case,        // parse/case matching a value: word! and lit-word!, path! and lit-path! alike
    match,             // the same, case folded
    find,              // find and select: same type, case folded
};
}  // namespace compare_op

// The codes of the arithmetic short cuts, in the order of their action slots.
namespace math_op {
enum : int { add, subtract, multiply, divide, remainder, or_, and_, xor_ };
}

namespace actions {

// Handler signatures, by slot.
using Make = Cell* (*)(Cell* proto, Cell* spec, uint8_t type);  // also `to`
using Random = void (*)(Cell* value, bool seed, bool secure, bool only);
using Reflect = void (*)(Cell* value, uint32_t field_symbol);
using Form = int32_t (*)(const Cell* value, Cell* out, const Cell* part, int32_t limit);
using Mold = int32_t (*)(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
                         int32_t indent);
// The path action: the value walked, the element selecting in it, the value
// to store (set-path, last element only), the path, the parent, the previous
// element, the step (from 0, -1 uncounted), and the case, get, last and
// notify flags. Answers the selected value.
using EvalPath = Cell* (*)(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell* parent,
                           const Cell* previous, int32_t step, bool case_, bool get, bool last, bool notify);
using Compare = int32_t (*)(const Cell* a, const Cell* b, int32_t op);  // -1, 0, 1; -2 not comparable
using StackHandler = void (*)();  // reads stack::args, writes args[0]
using Negate = void (*)(Cell* value);
using Round = void (*)(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                       bool half_ceiling);
using Predicate = bool (*)(const Cell* value);  // even? odd?
using Complement = Cell* (*)(Cell* value);
using Insert = void (*)(Cell* series, Cell* value, int32_t count, bool only, int32_t dup, bool append);
using Change = void (*)(Cell* series, Cell* value, int32_t count, bool only, int32_t dup);
using Clear = void (*)(Cell* series);
using Copy = Cell* (*)(Cell* value, Cell* result, const Cell* part, bool deep, const Cell* kind);
using Find = Cell* (*)(Cell* series, Cell* value, const Cell* part, bool only, bool case_, bool same, bool any,
                       const Cell* with, const Cell* skip, bool last, bool reverse, bool tail, bool match);
using Length = int32_t (*)(const Cell* series);  // -1: none
using Move = Cell* (*)(Cell* origin, Cell* target, const Cell* part);
using Pick = Cell* (*)(Cell* series, int32_t index, const Cell* index_cell);
using Poke = Cell* (*)(Cell* series, int32_t index, Cell* value, const Cell* index_cell);
using Put = Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_);
using Remove = void (*)(Cell* series, const Cell* part, const Cell* key);
using Reverse = void (*)(Cell* series, const Cell* part, const Cell* skip);
using Select = Cell* (*)(Cell* series, Cell* value, const Cell* part, bool only, bool case_, bool same, bool any,
                         const Cell* with, const Cell* skip, bool last, bool reverse);
using Sort = Cell* (*)(Cell* series, bool case_, const Cell* skip, const Cell* comparator, const Cell* part, bool all,
                       bool reverse, bool stable);
using Swap = void (*)(Cell* series1, Cell* series2);
using Take = Cell* (*)(Cell* series, const Cell* part, bool deep, bool last);
using Trim = void (*)(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with);
using Port = Cell* (*)(Cell* port);  // create close delete open? query update
using Modify = void (*)(Cell* target, Cell* field, Cell* value, bool case_);
using Open = Cell* (*)(Cell* port, bool new_, bool read, bool write, bool seek, const Cell* allow);
using Read = Cell* (*)(Cell* source, const Cell* part, const Cell* seek, bool binary, bool lines, bool info,
                       const Cell* as);
using Rename = Cell* (*)(Cell* from, Cell* to);
using Write = Cell* (*)(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
                        const Cell* part, const Cell* seek, const Cell* allow, const Cell* as);

// The handler of a slot for a type, typed; an unsupported action raises
// expect-arg naming the calling word, the datatype and the value.
Handler lookup(uint8_t type, action::Slot slot, const Cell* value);

template <class Fn>
Fn handler(uint8_t type, action::Slot slot, const Cell* value) {
    return reinterpret_cast<Fn>(lookup(type, slot, value));
}

// The path handler of the value's type. A type without one raises, when no
// path is given, bad-path-type2 with the element and the datatype; else
// bad-path-type with the path, the datatype and a block of the path's first
// step + 1 elements, the part of the path that produced the value.
EvalPath path_handler(const Cell* value, const Cell* path, const Cell* element, int32_t step);

// Comparison. compare_raw answers the handler's result (-2: not
// comparable); compare_star the truth of the comparison code, raising
// invalid-compare when an ordering code meets values that cannot be ordered.
int32_t compare_raw(const Cell* a, const Cell* b, int32_t op);
bool compare_star(const Cell* a, const Cell* b, int32_t op);

// Typed dispatchers that runtime code calls directly.
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);

// The integer an index argument of pick and poke stands for.
int32_t index_argument(const Cell* index);

// The wrappers, one per slot (0 where a slot has none), indexed by slot - 1,
// filled from the rows by init.
extern Entry table[action::count];
extern const std::span<const EntryRow> rows;
void init();

}  // namespace actions
}  // namespace kel
