// Short cuts of the dispatch layer for the commonest operations: integer and
// float arithmetic and comparison, block picks and block positions. Anything
// else runs the action itself in a frame named by the given word.
#include <climits>

#include "runtime/actions.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/stack.hpp"
#include "runtime/system.hpp"

namespace kel::actions {

namespace {

action::Slot math_slot(int op) {
    static const action::Slot slots[] = {action::add, action::subtract, action::multiply, action::divide,
                                         action::remainder, action::or_, action::and_, action::xor_};
    return slots[op];
}

// The action with both operands in a frame of its own; the result pushed.
void run_action(action::Slot slot, const Cell* name, const Cell& a, const Cell& b) {
    stack::mark_native(name);
    stack::push(&a);
    stack::push(&b);
    int32_t refs[16];
    for (int32_t& r : refs) r = -1;
    table[slot - 1](Call{false, refs});
    stack::unwind();
}

bool fast_integer_op(int op) { return op <= math_op::multiply || (op >= math_op::or_ && op <= math_op::xor_); }

}  // namespace

void math_op_cells(int op, const Cell* name, const Cell* a, const Cell* b) {
    Cell x = *a, y = *b;
    if (cell::is(&x, type::integer) && cell::is(&y, type::integer) && fast_integer_op(op)) {
        int64_t p = cell::integer(&x), q = cell::integer(&y), r = 0;
        switch (op) {
            case math_op::add: r = p + q; break;
            case math_op::subtract: r = p - q; break;
            case math_op::multiply: r = p * q; break;
            case math_op::or_: r = p | q; break;
            case math_op::and_: r = p & q; break;
            case math_op::xor_: r = p ^ q; break;
        }
        Cell result;
        if (r < INT32_MIN || r > INT32_MAX) cell::set_real(&result, type::float_, double(r));
        else cell::set_integer(&result, int32_t(r));
        stack::push(&result);
        return;
    }
    if (cell::is(&x, type::float_) && cell::is(&y, type::float_) && op <= math_op::multiply) {
        double p = cell::real(&x), q = cell::real(&y);
        Cell result;
        cell::set_real(&result, type::float_, op == math_op::add ? p + q : op == math_op::subtract ? p - q : p * q);
        stack::push(&result);
        return;
    }
    run_action(math_slot(op), name, x, y);
}

void math_op_int(int op, const Cell* name, const Cell* a, int32_t b) {
    Cell y;
    cell::set_integer(&y, b);
    math_op_cells(op, name, a, &y);
}

bool compare_cells(int32_t op, const Cell* name, const Cell* a, const Cell* b) {
    if (cell::is(a, type::integer) && cell::is(b, type::integer) && op <= compare_op::greater_or_equal) {
        int32_t p = cell::integer(a), q = cell::integer(b);
        switch (op) {
            case compare_op::equal: case compare_op::strict_equal: return p == q;
            case compare_op::not_equal: return p != q;
            case compare_op::lesser: return p < q;
            case compare_op::lesser_or_equal: return p <= q;
            case compare_op::greater: return p > q;
            default: return p >= q;
        }
    }
    (void)name;
    return compare_star(a, b, op);
}

bool compare_int(int32_t op, const Cell* name, const Cell* a, int32_t b) {
    Cell y;
    cell::set_integer(&y, b);
    return compare_cells(op, name, a, &y);
}

void eval_path_fast(const Cell* value, int32_t i, const Cell* name) {
    if (cell::is(value, type::block)) {
        Cell result;
        cell::set_none(&result);
        if (i >= 1 && i <= block::ks_length_q(value)) result = *block::ks_abs_at(value, int32_t(value->payload1) + i - 1);
        stack::push(&result);
        return;
    }
    Cell index;
    cell::set_integer(&index, i);
    stack::mark_native(name);
    stack::push(value);
    stack::push(&index);
    int32_t refs[16];
    for (int32_t& r : refs) r = -1;
    table[action::eval_path - 1](Call{false, refs});
    stack::unwind();
}

void series_query_fast(const Cell* value, int q, const Cell* name) {
    static const action::Slot slots[] = {action::length_q, action::index_q, action::head_q, action::tail_q,
                                         action::next,     action::back,    action::head,   action::tail};
    if (q < 1 || q > 8) sys::quit(101, KEL_CALLER_ADDRESS());
    if (!cell::is(value, type::block)) {
        stack::mark_native(name);
        stack::push(value);
        int32_t refs[16];
        for (int32_t& r : refs) r = -1;
        table[slots[q - 1] - 1](Call{false, refs});
        stack::unwind();
        return;
    }
    Cell v = *value;
    int32_t index = int32_t(v.payload1), length = series::total_length(&v);
    Cell result;
    switch (q) {
        case 1: cell::set_integer(&result, length > index ? length - index : 0); break;
        case 2: cell::set_integer(&result, index + 1); break;
        case 3: cell::set_logic(&result, index == 0); break;
        case 4: cell::set_logic(&result, index >= length); break;
        case 5: result = v; if (index < length) ++result.payload1; break;
        case 6: result = v; if (index > 0) --result.payload1; break;
        case 7: result = v; result.payload1 = 0; break;
        default: result = v; result.payload1 = uint32_t(length); break;
    }
    stack::push(&result);
}

}  // namespace kel::actions
