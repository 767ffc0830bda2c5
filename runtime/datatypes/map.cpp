#include "runtime/datatypes/map.hpp"

#include <cstring>

#include "runtime/alloc.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatype.hpp"
#include "runtime/hashtable.hpp"

namespace kel::map {

bool key_type_q(uint8_t t) {
    switch (t) {
        case type::string: case type::file: case type::url: case type::char_: case type::integer:
        case type::float_: case type::word: case type::set_word: case type::lit_word: case type::get_word:
        case type::refinement: case type::issue: case type::pair: case type::percent: case type::tuple:
        case type::binary: case type::time: case type::tag: case type::email: case type::date:
        case type::money: case type::ref: case type::point2d: case type::point3d: return true;
        default: return false;
    }
}

bool keys_ok(const Cell* cells, uint32_t n) {
    for (uint32_t i = 0; i < n; i += 2)
        if (!key_type_q(cell::type_of(cells + i))) return false;
    return true;
}

Cell* box_from_cells(Cell* out, const Cell* cells, uint32_t n) {
    collector::RootCell pairs;
    NodeId node = alloc::alloc_cells(n ? n : 2);
    pairs.cell = Cell{type::block, 0, node, 0};
    SeriesBuffer* b = alloc::buffer_of(node);
    auto* dest = reinterpret_cast<Cell*>(b->data() + b->offset);
    std::memcpy(dest, cells, size_t(n) * sizeof(Cell));
    for (uint32_t i = 0; i < n; ++i) {
        dest[i].header &= ~cell::newline_flag;
        uint8_t t = cell::type_of(dest + i);
        if (i % 2 == 0 && t >= type::word && t <= type::get_word) cell::set_type(dest + i, type::set_word);
    }
    b->tail = b->offset + n * uint32_t(sizeof(Cell));
    NodeId table = hashtable::init(n / 2, node, hashtable::map_keys, 0);  // indexes the keys
    *out = Cell{type::map, 0, node, table};
    return out;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({type::map, 0, "map!", row.handlers});
}

}  // namespace kel::map
