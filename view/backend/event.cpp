#include "view/backend/event.hpp"

#include <cmath>
#include <string_view>

#include "environment/routines.hpp"
#include "runtime/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/char.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "view/backend/snapshot.hpp"
#include "view/backend/units.hpp"
#include "view/backend/windows.hpp"

namespace kel::event {
namespace {

constexpr std::string_view type_names[] = {
    "", "down", "up", "mid-down", "mid-up", "alt-down", "alt-up", "aux-down", "aux-up", "click", "dbl-click",
    "wheel", "over", "key", "key-down", "key-up", "ime", "focus", "unfocus", "enter", "zoom",
    "pan", "rotate", "two-tap", "press-tap", "select", "change", "menu", "close", "move", "resize",
    "moving", "resizing", "time", "drawing", "scroll", "minimize", "maximize", "restore",
};
static_assert(std::size(type_names) == code::last + 1);

constexpr std::string_view field_names[] = {
    "", "type", "face", "window", "offset", "key", "picked", "flags", "away?", "down?", "mid-down?",
    "alt-down?", "aux-down?", "ctrl?", "shift?", "orientation",
};
static_assert(std::size(field_names) == field::last + 1);

// The flag words: their bits, in the order the `flags` accessor lists them
// (`command` is never listed).
struct FlagName {
    std::string_view name;
    uint32_t bit;
};
constexpr FlagName flag_names[] = {
    {"away", flag::away}, {"down", flag::down}, {"mid-down", flag::mid_down}, {"alt-down", flag::alt_down},
    {"aux-down", flag::aux_down}, {"control", flag::control}, {"shift", flag::shift}, {"alt", flag::alt},
    {"command", flag::command},
};
constexpr int listed_flags = 8;

// The logic accessors, from away? to shift?, and their bits.
constexpr uint32_t logic_bits[] = {flag::away, flag::down, flag::mid_down, flag::alt_down, flag::aux_down,
                                   flag::control, flag::shift};

// Special keys by virtual-key code.
struct KeyName {
    int32_t vk;
    std::string_view name;
};
constexpr KeyName key_names[] = {
    {0x21, "page-up"}, {0x22, "page-down"}, {0x23, "end"}, {0x24, "home"}, {0x25, "left"}, {0x26, "up"},
    {0x27, "right"}, {0x28, "down"}, {0x2D, "insert"}, {0x2E, "delete"}, {0x70, "F1"}, {0x71, "F2"},
    {0x72, "F3"}, {0x73, "F4"}, {0x74, "F5"}, {0x75, "F6"}, {0x76, "F7"}, {0x77, "F8"}, {0x78, "F9"},
    {0x79, "F10"}, {0x7A, "F11"}, {0x7B, "F12"}, {0xA0, "left-shift"}, {0xA1, "right-shift"},
    {0xA2, "left-control"}, {0xA3, "right-control"}, {0x14, "caps-lock"}, {0x90, "num-lock"},
    {0xA4, "left-alt"}, {0xA5, "right-alt"}, {0x5B, "left-command"}, {0x5C, "right-command"},
    {0x91, "scroll-lock"}, {0x13, "pause"},
};

// The request of a scroll message, by its code 0-5 (4 and above 5 read `end`).
constexpr std::string_view vertical_scroll[] = {"up", "down", "page-up", "page-down", "end", "track"};
constexpr std::string_view horizontal_scroll[] = {"left", "right", "page-left", "page-right", "end", "track"};

uint32_t symbol_of(std::string_view name) { return symbol::make_len(name.data(), name.size()); }

// The canonical symbols of the accessor and type words, made at registration.
uint32_t type_symbols[code::last + 1];
uint32_t field_symbols[field::last + 1];
uint32_t flag_symbols[std::size(flag_names)];
uint32_t set_word_symbols[7];  // type key flags face window offset picked

uint32_t canonical(const Cell* word) { return symbol::resolve(word::symbol(word)); }

bool is_word(const Cell* c) { return cell::is(c, type::word) || cell::is(c, type::lit_word); }

// The accessor index a word names, 0 when none.
int32_t field_of(const Cell* word) {
    if (!word::any_word_q(cell::type_of(word))) return 0;
    uint32_t s = canonical(word);
    for (int32_t i = 1; i <= field::last; ++i)
        if (field_symbols[i] == s) return i;
    return 0;
}

Cell* word_value(std::string_view name, Cell* out) {
    Cell w;
    word::make_in(symbol_of(name), &w);
    *out = w;
    return out;
}

bool is_made(const Cell* e) { return e->header & cell::event_block_flag; }

// ---- fields of native events

Cell* native_key(const Cell* e, const view::snapshot::Snapshot* s, Cell* out) {
    uint32_t c = e->payload1, bits = e->payload3;
    if (c == code::key || c == code::key_down || c == code::key_up) {
        int32_t special = s ? s->special_key : -1;
        uint32_t low = bits & 0xFFFF;
        if (special == -1) {
            uint32_t full = bits & flag::key_mask;
            return char_::box(out, c == code::key && full >= 0x10000 ? full : low);
        }
        for (const KeyName& k : key_names)
            if (k.vk == special) return word_value(k.name, out);
        if (c == code::key) {
            cell::set_none(out);
            return out;
        }
        return char_::box(out, low);
    }
    if (c == code::scroll && s) {
        int32_t r = s->scroll_code >= 0 && s->scroll_code <= 5 ? s->scroll_code : 4;
        return word_value(s->vertical ? vertical_scroll[r] : horizontal_scroll[r], out);
    }
    if (c == code::wheel) return word_value("wheel", out);
    cell::set_none(out);
    return out;
}

Cell* native_picked(const Cell* e, const view::snapshot::Snapshot* s, Cell* out) {
    uint32_t c = e->payload1;
    cell::set_none(out);
    switch (c) {
        case code::down: case code::mid_down: case code::alt_down: case code::aux_down: case code::dbl_click:
            if (s && s->list_item > 0) cell::set_integer(out, s->list_item);
            return out;
        case code::wheel:
            if (s) {
                int32_t d = s->wheel;
                if (d < -24000) d += 30720;
                else if (d > 24000) d -= 30720;
                cell::set_real(out, type::float_, d / 120.0);
            }
            return out;
        case code::zoom:
            if (s && s->has_zoom) cell::set_real(out, type::percent, s->zoom);
            return out;
        case code::pan: case code::rotate: case code::two_tap: case code::press_tap:
            if (s) cell::set_integer(out, s->gesture);
            return out;
        case code::menu: {
            uint32_t id = s ? s->menu_symbol : (e->payload3 & 0xFFFF) == 0xFFFF ? 0 : e->payload3 & 0xFFFF;
            if (id) {
                Cell w;
                word::make_in(id, &w);
                *out = w;
            }
            return out;
        }
        case code::scroll:
            if (s) cell::set_integer(out, s->scroll_pos);
            return out;
        default:
            cell::set_integer(out, int16_t(e->payload3 & 0xFFFF));
            return out;
    }
}

Cell* native_field(const Cell* e, int32_t f, Cell* out) {
    const view::snapshot::Snapshot* s = view::snapshot::find(e->payload2);
    switch (f) {
        case field::face:
            if (s && s->window) view::windows::lookup.face_of(s->window, out);
            else cell::set_none(out);
            return out;
        case field::window: {
            uint64_t root = s && s->window ? view::windows::lookup.root_of(s->window) : 0;
            if (root) view::windows::lookup.face_of(root, out);
            else cell::set_none(out);
            return out;
        }
        case field::offset:
            if (!s || !s->has_offset) {
                cell::set_none(out);
                return out;
            }
            if (s->offset_pair)
                return pair::box(out, int32_t(std::lround(view::units::to_logical(s->x))),
                                 int32_t(std::lround(view::units::to_logical(s->y))));
            return point2d::box(out, view::units::to_logical(s->x), view::units::to_logical(s->y));
        case field::key: return native_key(e, s, out);
        case field::picked: return native_picked(e, s, out);
        default:  // orientation
            if (e->payload1 == code::scroll && s) return word_value(s->vertical ? "vertical" : "horizontal", out);
            cell::set_none(out);
            return out;
    }
}

// ---- fields of made events

Cell* made_field(const Cell* e, int32_t f, Cell* out) {
    static constexpr int side_cell[] = {0, 0, 1, 2, 3, 0, 4};  // by accessor index, up to picked
    if (f == field::key) {
        uint32_t low = e->payload3 & 0xFFFF;
        if (low) char_::box(out, low);
        else cell::set_none(out);
        return out;
    }
    if (f == field::orientation) {
        cell::set_none(out);
        return out;
    }
    if (e->payload2) {
        *out = series::cells_of(e->payload2)[side_cell[f] - 1];
        return out;
    }
    if (f == field::offset) return pair::box(out, 0, 0);
    if (f == field::picked) cell::set_integer(out, 0);
    else cell::set_none(out);
    return out;
}

Cell* flags_block(uint32_t bits, Cell* out) {
    collector::RootCell b;
    block::make_at(&b.cell, 8);
    for (int i = 0; i < listed_flags; ++i)
        if (bits & flag_names[i].bit) word::make_at_tail(flag_symbols[i], &b.cell);
    *out = b.cell;
    return out;
}

// ---- actions

// A set-word's value in a spec: the cell after it, or the value of a word
// or get-word bound to a context. A word that has no value stays itself,
// so that `type: down` names the type.
Cell spec_value(const Cell* c) {
    Cell v = *c;
    if ((cell::is(&v, type::word) || cell::is(&v, type::get_word)) && word::context_of(&v)) {
        Cell got = *word::lookup(&v);
        if (!cell::is(&got, type::unset)) return got;
    }
    return v;
}

Cell* make(Cell* proto, Cell* spec, uint8_t) {
    uint32_t code = 0, bits = 0;
    Cell face{type::none, 0, 0, 0}, window = face, offset, picked;
    pair::box(&offset, 0, 0);
    cell::set_integer(&picked, 0);
    bool side = false;
    if (cell::is(spec, type::block)) {
        const Cell b = *spec;
        int32_t n = series::total_length(&b);
        for (int32_t i = series::clamped_index(&b); i + 1 < n; ++i) {
            const Cell name = *block::ks_abs_at(&b, i);
            if (!cell::is(&name, type::set_word)) continue;
            Cell v = spec_value(block::ks_abs_at(&b, i + 1));
            ++i;
            uint32_t s = canonical(&name);
            uint8_t t = cell::type_of(&v);
            if (s == set_word_symbols[0] && is_word(&v)) {
                code = code_of(&v);
                if (!code) error::fire(error::id::not_event_type, &v);
            } else if (s == set_word_symbols[1] && t == type::char_) {
                bits |= v.payload2 & 0xFFFF;
            } else if (s == set_word_symbols[2] && t == type::block) {
                int32_t m = series::total_length(&v);
                for (int32_t j = series::clamped_index(&v); j < m; ++j) {
                    const Cell* w = block::ks_abs_at(&v, j);
                    if (cell::is(w, type::word)) bits |= flag_of(w);
                }
            } else if (s == set_word_symbols[3] && t == type::object) {
                face = v, side = true;
            } else if (s == set_word_symbols[4] && t == type::object) {
                window = v, side = true;
            } else if (s == set_word_symbols[5] && (t == type::pair || t == type::point2d)) {
                offset = v, side = true;
            } else if (s == set_word_symbols[6] && t == type::integer) {
                picked = v, side = true;
            }  // any other set-word or value is skipped, with its value cell
        }
    }
    NodeId record = 0;
    if (side) {
        // The remembered values stay reachable through the spec or its words.
        collector::RootCell r;
        block::make_at(&r.cell, 4);
        for (const Cell* c : {&face, &window, &offset, &picked}) block::ks_append(&r.cell, c);
        record = r.cell.payload2;
    }
    *proto = Cell{uint32_t(type::event) | cell::event_block_flag, code, record, bits};
    return proto;
}

int32_t form(const Cell*, Cell* out, const Cell*, int32_t limit) {
    string::append_ascii(out, "event", 5);
    return limit - 5;
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* part, int32_t limit, int32_t) {
    return form(value, out, part, limit);
}

// Events are never ordered: any two are equal under the equality and sort
// codes.
int32_t compare(const Cell*, const Cell* b, int32_t op) {
    if (!cell::is(b, type::event)) return -2;
    switch (op) {
        case compare_op::equal: case compare_op::not_equal: case compare_op::strict_equal:
        case compare_op::sort: case compare_op::sort_case: case compare_op::same: case compare_op::find:
            return 0;
        default:
            return -2;
    }
}

// The path itself, or none when the walk gave none.
Cell path_of(const Cell* path) {
    Cell p;
    if (path) p = *path;
    else cell::set_none(&p);
    return p;
}

Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell*, const Cell*,
                int32_t, bool, bool, bool, bool) {
    Cell w = *element;
    int32_t f = field_of(element);
    if (!f) {
        Cell p = path_of(path);
        error::fire(error::id::invalid_path, &p, &w);
    }
    if (!store) {
        const Cell e = *value;
        get_field(&e, f, value);
        return value;
    }
    if (f != field::type || !cell::is(store, type::word)) {
        Cell p = path_of(path);
        error::fire(error::id::bad_path_set, &w, &p);
    }
    uint32_t c = code_of(store);
    if (!c) {
        Cell v = *store;
        error::fire(error::id::not_event_type, &v);
    }
    value->payload1 = c;
    return const_cast<Cell*>(store);
}

Cell* pick(Cell* e, int32_t index, const Cell* index_cell) {
    int32_t f = index;
    if (!cell::is(index_cell, type::integer)) {
        f = field_of(index_cell);
        if (!f) {
            Cell v = *e, w = *index_cell;
            error::fire(error::id::cannot_use, &v, &w);
        }
    } else if (f < 1 || f > field::last) {
        Cell n = *index_cell;
        error::fire(error::id::out_of_range, &n);
    }
    const Cell copy = *e;
    get_field(&copy, f, e);
    return e;
}

// ---- routines

// event? value
uint32_t event_q(const Call&) {
    cell::set_logic(stack::args, cell::is(stack::args, type::event));
    return 0;
}

// find-flag? facet flag: whether the facet is the flag word, or a block
// holding it (as a word or lit-word) from its index on.
uint32_t find_flag_q(const Call&) {
    const Cell facet = stack::args[0], flag = stack::args[1];
    uint32_t wanted = canonical(&flag);
    bool found = false;
    if (cell::is(&facet, type::word)) {
        found = canonical(&facet) == wanted;
    } else if (cell::is(&facet, type::block)) {
        int32_t n = series::total_length(&facet);
        for (int32_t i = series::clamped_index(&facet); i < n && !found; ++i) {
            const Cell* c = block::ks_abs_at(&facet, i);
            found = is_word(c) && canonical(c) == wanted;
        }
    }
    cell::set_logic(stack::args, found);
    return 0;
}

}  // namespace

Cell* make_native(Cell* out, uint32_t code, uint32_t key_and_flags, uint32_t snapshot_ref) {
    *out = Cell{type::event, code, snapshot_ref, key_and_flags};
    return out;
}

uint32_t code_of(const Cell* word) {
    uint32_t s = canonical(word);
    for (uint32_t c = 1; c <= code::last; ++c)
        if (type_symbols[c] == s) return c;
    return 0;
}

int32_t vk_of(const Cell* word) {
    uint32_t s = canonical(word);
    for (const KeyName& k : key_names)
        if (symbol::resolve(symbol_of(k.name)) == s) return k.vk;
    return -1;
}

uint32_t flag_of(const Cell* word) {
    uint32_t s = canonical(word);
    for (size_t i = 0; i < std::size(flag_names); ++i)
        if (flag_symbols[i] == s) return flag_names[i].bit;
    return 0;
}

void get_field(const Cell* event, int32_t f, Cell* out) {
    const Cell e = *event;
    uint32_t c = e.payload1;
    if (f == field::type) {
        if (c >= 1 && c <= code::last) word_value(type_names[c], out);
        else cell::set_none(out);  // a made event given no type
    } else if (f == field::flags) {
        flags_block(e.payload3, out);
    } else if (f >= field::away_q && f <= field::shift_q) {
        cell::set_logic(out, e.payload3 & logic_bits[f - field::away_q]);
    } else if (is_made(&e)) {
        made_field(&e, f, out);
    } else {
        native_field(&e, f, out);
    }
}

void register_type() {
    for (uint32_t c = 1; c <= code::last; ++c) {
        type_symbols[c] = symbol::resolve(symbol_of(type_names[c]));
        context::find_or_add_global(type_symbols[c]);
    }
    for (int32_t f = 1; f <= field::last; ++f) field_symbols[f] = symbol::resolve(symbol_of(field_names[f]));
    for (size_t i = 0; i < std::size(flag_names); ++i) flag_symbols[i] = symbol::resolve(symbol_of(flag_names[i].name));
    const char* set_words[] = {"type", "key", "flags", "face", "window", "offset", "picked"};
    for (int i = 0; i < 7; ++i) set_word_symbols[i] = symbol::resolve(symbol::make(set_words[i]));
    // Every word an accessor answers is made now: reading a field never adds a word.
    for (const KeyName& k : key_names) context::find_or_add_global(symbol_of(k.name));
    for (auto names : {vertical_scroll, horizontal_scroll})
        for (int i = 0; i < 6; ++i) context::find_or_add_global(symbol_of(names[i]));
    for (const char* w : {"wheel", "vertical", "horizontal"}) context::find_or_add_global(symbol::make(w));
    for (uint32_t s : flag_symbols) context::find_or_add_global(s);

    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::form, &form).set(action::mold, &mold);
    row.set(action::eval_path, &eval_path).set(action::compare, &compare).set(action::pick, &pick);
    datatype::register_type({type::event, 0, "event!", row.handlers});
    datatype::make_name_word(type::event);
}

void make_routines() {
    environment::define_routine("event?", R"(["Returns true if the value is an event!" value [any-type!]
        return: [logic!]])", event_q, type::logic);
    environment::define_routine("find-flag?", R"(["Internal Use Only" facet [any-type!] flag [word!]
        return: [logic!]])", find_flag_q, type::logic);
}

}  // namespace kel::event
