// The type groups the runtime branches on, as constexpr bit sets over type
// ids, one per typeset of environment/typesets.kel that C++ code needs and of
// the same members, so a C++ test of a group and a Kel test of the typeset
// agree. A group that is not a Kel typeset is spelled out where it is used
// (for instance "series! or map!"), from these.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::typesets {

using Set = uint64_t;
static_assert(type::count <= 64);

constexpr Set bit(uint8_t t) { return Set(1) << t; }
constexpr bool has(Set set, uint8_t t) { return t < 64 && (set >> t & 1); }

constexpr Set any_word = bit(type::word) | bit(type::set_word) | bit(type::lit_word) | bit(type::get_word);
constexpr Set all_word = any_word | bit(type::refinement) | bit(type::issue);
constexpr Set any_list = bit(type::block) | bit(type::paren) | bit(type::hash);
constexpr Set any_path = bit(type::path) | bit(type::lit_path) | bit(type::set_path) | bit(type::get_path);
constexpr Set any_block = any_path | any_list;
constexpr Set any_function =
    bit(type::native) | bit(type::action) | bit(type::op) | bit(type::function) | bit(type::routine);
constexpr Set any_object = bit(type::object) | bit(type::error) | bit(type::port);
constexpr Set any_string =
    bit(type::string) | bit(type::file) | bit(type::url) | bit(type::tag) | bit(type::email) | bit(type::ref);
constexpr Set series = bit(type::binary) | bit(type::image) | bit(type::vector) | any_block | any_string;

constexpr bool is_any_word(uint8_t t) { return has(any_word, t); }
constexpr bool is_all_word(uint8_t t) { return has(all_word, t); }
constexpr bool is_any_block(uint8_t t) { return has(any_block, t); }
constexpr bool is_any_path(uint8_t t) { return has(any_path, t); }
constexpr bool is_any_function(uint8_t t) { return has(any_function, t); }
constexpr bool is_any_object(uint8_t t) { return has(any_object, t); }
constexpr bool is_any_string(uint8_t t) { return has(any_string, t); }
constexpr bool is_series(uint8_t t) { return has(series, t); }

}  // namespace kel::typesets
