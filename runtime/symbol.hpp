// Symbols: every spelling of a word is interned once in one symbol table and
// known from then on by its id, a small positive integer (1-based; never
// reused). Words are case-insensitive: a spelling that differs from an
// earlier one only in ASCII case is a symbol of its own whose alias is the
// earlier one, and case-insensitive comparisons compare resolved ids.
//
// A symbol! cell: payload 1 the alias (-1 for a canonical symbol), payload 2
// the node of its string! form (0 until needed), payload 3 the node of its
// UTF-8 name (a NUL follows the tail).
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"

namespace kel::symbol {

// The symbol table; its block is the symbols block (cell id - 1 is symbol id).
extern NodeId table;
extern NodeId symbols;

// Makes the table over the symbols block (start-up).
void init(NodeId symbols_block, uint32_t size);

uint32_t make(const char* name);
uint32_t make_len(const char* name, size_t length);
uint32_t make_from_string(const Cell* str);
// Any spelling matching without regard to case is answered as it is.
uint32_t make_alias_free(const char* name);

inline const Cell* cell_of(uint32_t id) {
    SeriesBuffer* b = alloc::buffer_of(symbols);
    return reinterpret_cast<const Cell*>(b->data() + b->offset) + (id - 1);
}

// The canonical id: the first spelling that matches without regard to case.
inline uint32_t resolve(uint32_t id) {
    int32_t alias = int32_t(cell_of(id)->payload1);
    return alias > 0 ? uint32_t(alias) : id;
}

// The name's UTF-8 bytes; good until the next allocation.
std::string_view name(uint32_t id);

// The position of a word's name in a list of lowercase names, compared
// without regard to ASCII case; nothing when the value is no word! or its
// name is not in the list. The keyword arguments of natives (`checksum`'s
// method, `compress`'s) are read this way.
std::optional<size_t> pick_word(const Cell* word, std::span<const std::string_view> names);

// The symbol's cell, with its string form made.
const Cell* get(uint32_t id);

// The order of two symbols' names under a compare code, as strings order
// (-1, 0, 1): the comparison of symbol! and the order of words.
int32_t compare_names(uint32_t x, uint32_t y, int32_t op);

void register_type();

}  // namespace kel::symbol
