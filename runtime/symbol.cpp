#include "runtime/symbol.hpp"

#include <cstring>

#include "runtime/datatype.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/hashtable.hpp"

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

void register_type() {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({type::symbol, 0, "symbol!", row.handlers});
}

}  // namespace kel::symbol
