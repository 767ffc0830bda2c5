// The natives table: one row per native of the boot environment, in index
// order, naming the C++ entry that a native! value of that index runs.
// ORDER: environment/natives.kel gives every native its index; the rows here
// must agree with it, and start-up checks that they do (check_boot).
#include "runtime/natives/natives.hpp"

#include <vector>

#include "runtime/context.hpp"
#include "runtime/natives/entries.hpp"
#include "runtime/output.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"

namespace kel::natives {
namespace {

constexpr EntryRow all_rows[] = {
    {1, "if", if_},
    {2, "unless", unless},
    {3, "either", either},
    {4, "any", any},
    {5, "all", all},
    {6, "while", while_},
    {7, "until", until},
    {8, "loop", loop},
    {9, "repeat", repeat},
    {10, "forever", forever},
    {11, "foreach", foreach},
    {12, "forall", forall},
    {13, "remove-each", remove_each},
    {14, "func", func},
    {15, "function", function_},
    {16, "does", does},
    {17, "has", has},
    {18, "switch", switch_},
    {19, "case", case_},
    {20, "do", do_},
    {21, "get", get},
    {22, "set", set},
    {23, "print", print},
    {24, "prin", prin},
    {25, "equal?", equal_q},
    {26, "not-equal?", not_equal_q},
    {27, "strict-equal?", strict_equal_q},
    {28, "lesser?", lesser_q},
    {29, "greater?", greater_q},
    {30, "lesser-or-equal?", lesser_or_equal_q},
    {31, "greater-or-equal?", greater_or_equal_q},
    {32, "same?", same_q},
    {33, "not", not_},
    {34, "type?", type_q},
    {35, "reduce", reduce},
    {36, "compose", compose},
    {37, "stats", stats},
    {38, "bind", bind},
    {39, "in", in},
    {40, "parse", parse_native},
    {41, "union", union_},
    {42, "intersect", intersect},
    {43, "unique", unique},
    {44, "difference", difference},
    {45, "exclude", exclude},
    {46, "complement?", complement_q},
    {47, "dehex", dehex},
    {48, "enhex", enhex},
    {49, "negative?", negative_q},
    {50, "positive?", positive_q},
    {51, "max", max},
    {52, "min", min},
    {53, "shift", shift},
    {54, "to-hex", to_hex},
    {55, "sine", sine},
    {56, "cosine", cosine},
    {57, "tangent", tangent},
    {58, "arcsine", arcsine},
    {59, "arccosine", arccosine},
    {60, "arctangent", arctangent},
    {61, "arctangent2", arctangent2},
    {62, "NaN?", nan_q},
    {63, "log-2", log_2},
    {64, "log-10", log_10},
    {65, "log-e", log_e},
    {66, "exp", exp},
    {67, "square-root", square_root},
    {68, "construct", construct},
    {69, "value?", value_q},
    {70, "try", try_},
    {71, "uppercase", uppercase},
    {72, "lowercase", lowercase},
    {73, "as-pair", as_pair},
    {74, "as-point2D", as_point2d},
    {75, "as-point3D", as_point3d},
    {76, "as-money", as_money},
    {77, "break", break_},
    {78, "continue", continue_},
    {79, "exit", exit},
    {80, "return", return_},
    {81, "throw", throw_},
    {82, "catch", catch_},
    {83, "extend", extend},
    {84, "debase", debase},
    {85, "to-local-file", to_local_file},
    {86, "wait", wait},
    {87, "checksum", checksum},
    {88, "unset", unset},
    {89, "new-line", new_line},
    {90, "new-line?", new_line_q},
    {91, "enbase", enbase},
    {92, "context?", context_q},
    {93, "set-env", set_env},
    {94, "get-env", get_env},
    {95, "list-env", list_env},
    {96, "now", now},
    {97, "sign?", sign_q},
    {98, "as", as},
    {99, "call", call_native},
    {100, "zero?", zero_q},
    {101, "size?", size_q},
    {102, "browse", browse},
    {103, "compress", compress},
    {104, "decompress", decompress},
    {105, "recycle", recycle},
    {106, "transcode", transcode},
    {107, "apply", apply},
};

// The index of a native is its row's position: no gap, no second row.
constexpr bool in_index_order() {
    for (size_t i = 0; i < std::size(all_rows); ++i)
        if (all_rows[i].index != i + 1) return false;
    return true;
}
static_assert(in_index_order(), "natives rows must run 1, 2, 3 ... in order");
static_assert(std::size(all_rows) <= count);

struct Held {
    uint32_t index;
    std::string_view name;
};

// The global words holding a value of the type, with the index it holds.
std::vector<Held> held_by_words(uint8_t type) {
    std::vector<Held> held;
    NodeId ctx = context::global;
    for (uint32_t i = 0, n = context::word_count(ctx); i < n; ++i) {
        const Cell* value = context::value_address(ctx, i);
        if (cell::type_of(value) == type)
            held.push_back({value->payload1, symbol::name(context::word_at(ctx, i)->payload2)});
    }
    return held;
}

}  // namespace

Entry table[count] = {};
const std::span<const EntryRow> rows{all_rows};

void init() {
    for (const EntryRow& row : rows) table[row.index - 1] = row.entry;
}

uint32_t index_of(std::string_view name) {
    for (const EntryRow& row : rows)
        if (name == row.name) return row.index;
    return 0;
}

std::string check_rows(uint8_t type, std::span<const EntryRow> rows) {
    const std::string kind = type == type::native ? "native " : "action ";
    std::vector<Held> held = held_by_words(type);
    auto row_of = [&](uint32_t index) -> const EntryRow* {
        for (const EntryRow& row : rows)
            if (row.index == index) return &row;
        return nullptr;
    };
    auto holds = [&](uint32_t index, std::string_view name) {
        for (const Held& h : held)
            if (h.index == index && h.name == name) return true;
        return false;
    };
    for (const Held& h : held) {
        const EntryRow* row = row_of(h.index);
        if (!row || !row->name)
            return kind + std::to_string(h.index) + ": named " + std::string(h.name) +
                   " in the boot environment, no row in the table";
        // A second word may hold a native its own word holds too (an alias
        // such as `q: :quit`); a word holding another row's value is not one.
        if (h.name != row->name && !holds(h.index, row->name))
            return kind + std::to_string(h.index) + ": named " + std::string(h.name) + " in the boot environment, " +
                   row->name + " in the table";
    }
    // A row without a name has no word: the runtime calls it itself.
    for (const EntryRow& row : rows) {
        if (!row.entry || !row.name) continue;
        if (!holds(row.index, row.name))
            return kind + std::to_string(row.index) + ": named " + row.name +
                   " in the table, no word of the boot environment holds it";
    }
    return {};
}

void check_boot() {
    struct Table {
        uint8_t type;
        std::span<const EntryRow> rows;
    };
    for (const Table& t : {Table{type::native, rows}, Table{type::action, actions::rows}}) {
        std::string problem = check_rows(t.type, t.rows);
        if (problem.empty()) continue;
        sysrt::print_line({TypedPrintItem::text("*** Table Error: "), TypedPrintItem::text(problem.c_str())});
        sys::quit(98, KEL_CALLER_ADDRESS());
    }
}

}  // namespace kel::natives
