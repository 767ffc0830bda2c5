#include "runtime/symbol.hpp"

#include <cstring>

#include "runtime/actions.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/hashtable.hpp"
#include "runtime/unicode.hpp"

namespace kel::symbol {

NodeId table = 0;
NodeId symbols = 0;

void init(NodeId symbols_block, uint32_t size) {
    symbols = symbols_block;
    table = hashtable::init(size, symbols_block, hashtable::words, 1);
}

uint32_t make_len(const char* name, size_t length) { return hashtable::find_symbol(table, name, length, false); }

uint32_t make(const char* name) { return make_len(name, std::strlen(name)); }

uint32_t make_alias_free(const char* name) { return hashtable::find_symbol(table, name, std::strlen(name), true); }

uint32_t make_from_string(const Cell* str) {
    std::string text = string::to_utf8(str);
    return make_len(text.data(), text.size());
}

std::optional<size_t> pick_word(const Cell* word, std::span<const std::string_view> names) {
    if (!cell::is(word, type::word)) return std::nullopt;
    std::string_view name = symbol::name(resolve(word->payload2));
    for (size_t i = 0; i < names.size(); ++i) {
        if (name.size() != names[i].size()) continue;
        bool same = true;
        for (size_t k = 0; same && k < name.size(); ++k)
            same = (name[k] >= 'A' && name[k] <= 'Z' ? name[k] + 32 : name[k]) == names[i][k];
        if (same) return i;
    }
    return std::nullopt;
}

std::string_view name(uint32_t id) {
    SeriesBuffer* b = alloc::buffer_of(cell_of(id)->payload3);
    return {reinterpret_cast<const char*>(b->data() + b->offset), b->tail - b->offset};
}

const Cell* get(uint32_t id) {
    if (cell_of(id)->payload2 == 0) {
        std::string text(name(id));
        Cell str;
        string::make_from_utf8(&str, text.data(), text.size());
        SeriesBuffer* b = alloc::buffer_of(symbols);
        (reinterpret_cast<Cell*>(b->data() + b->offset) + (id - 1))->payload2 = str.payload2;
    }
    return cell_of(id);
}

namespace {

std::string_view name_of_cell(const Cell* symbol) {
    SeriesBuffer* b = alloc::buffer_of(symbol->payload3);
    return {reinterpret_cast<const char*>(b->data() + b->offset), b->tail - b->offset};
}

// Two names as text, as strings compare: code point by code point, folded
// to upper case but for the exact codes; a name that is a prefix of the
// other sorts first, and names of different lengths are never equal.
int32_t compare_text(std::string_view a, std::string_view b, int32_t op) {
    bool fold = op != compare_op::strict_equal && op != compare_op::sort_case;
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        uint32_t ca = unicode::next_utf8(a, i), cb = unicode::next_utf8(b, j);
        if (ca == cb) continue;
        if (fold) {
            ca = case_folding::change_case(ca, true);
            cb = case_folding::change_case(cb, true);
            if (ca == cb) continue;
        }
        return ca > cb ? 1 : -1;
    }
    int32_t order = i < a.size() ? 1 : j < b.size() ? -1 : 0;
    bool equality = op == compare_op::equal || op == compare_op::not_equal || op == compare_op::strict_equal ||
                    op == compare_op::find;
    return equality && order ? 1 : order;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!cell::is(b, type::symbol)) return -2;
    if (op == compare_op::same) return a->payload3 == b->payload3 ? 0 : -1;
    return compare_text(name_of_cell(a), name_of_cell(b), op);
}

}  // namespace

int32_t compare_names(uint32_t x, uint32_t y, int32_t op) { return compare_text(name(x), name(y), op); }

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::compare, &compare);
    datatype::register_type({type::symbol, 0, "symbol!", row.handlers});
}

}  // namespace kel::symbol
