// The Kel side of the recording display: the global object `view-record`
// through which Kel test tables read the call log, fill the event queue and
// replace the screens, and the in-memory clipboard that stands in for the
// system's while the recording back end is in use.
#include "view/backend/record/view_record.hpp"

#include "environment/boot.hpp"
#include "environment/routines.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "view/backend/event.hpp"
#include "view/backend/record/record.hpp"

namespace kel::view::record {
namespace {

// The in-memory clipboard keeps a copy of what was written: a string, a
// block of files, an image; none empties it. Any other value raises
// invalid-arg, as the system clipboard's routines do.
constexpr char clipboard_functions[] = R"(
read-clipboard: func ["Return the contents of the clipboard" return: [any-type!]] [
	all [view-record/clipboard  copy/deep view-record/clipboard]
]
write-clipboard: func ["Write content to the clipboard" data [any-type!] return: [logic!]] [
	unless any [
		none? :data  string? :data  image? :data
		all [block? :data  parse data [any [file! | string!]]]
	] [cause-error 'script 'invalid-arg reduce [:data]]
	view-record/clipboard: all [:data  copy/deep data]
	true
]
)";

uint32_t answer_none() {
    cell::set_none(stack::args);
    return 0;
}

uint32_t log_of(const Call&) {
    const std::vector<std::string>& lines = log();
    Cell* list = block::push_new(int32_t(lines.size()));
    for (const std::string& line : lines) {
        string::make_from_utf8(stack::push_slot(), line.data(), line.size());
        block::append_top();
    }
    *stack::args = *list;
    return 0;
}

uint32_t clear_log_of(const Call&) {
    clear_log();
    return answer_none();
}

uint32_t queue_text_of(const Call&) {
    queue_text(string::text_of(stack::args + 1), window_of(stack::args[0]));
    return answer_none();
}

// face type key flags offset: the key is a char!, a special key's word, the
// wheel delta of a wheel event (integer!) or none.
uint32_t queue_event_of(const Call&) {
    const Cell* args = stack::args;
    uint32_t code = event::code_of(args + 1);
    if (!code) error::fire(error::id::invalid_arg, args + 1);
    snapshot::Snapshot s;
    s.window = window_of(args[0]);
    uint32_t bits = 0;
    const Cell* key = args + 2;
    if (cell::is(key, type::char_)) {
        bits = key->payload2 & event::flag::key_mask;
    } else if (cell::is(key, type::integer)) {
        s.wheel = cell::integer(key);
    } else if (cell::is(key, type::word)) {
        s.special_key = event::vk_of(key);
        if (s.special_key < 0) error::fire(error::id::invalid_arg, key);
        bits = uint32_t(s.special_key);
    } else if (!cell::is(key, type::none)) {
        error::fire(error::id::invalid_arg, key);
    }
    const Cell* flags = args + 3;
    for (int32_t i = series::clamped_index(flags), n = series::total_length(flags); i < n; ++i) {
        uint32_t bit = event::flag_of(block::ks_abs_at(flags, i));
        if (!bit) error::fire(error::id::invalid_arg, block::ks_abs_at(flags, i));
        bits |= bit;
    }
    if (cell::is(args + 4, type::pair)) {
        s.has_offset = true;
        const Cell* size = environment::field(args[0], "size");
        s.offset_pair = size && cell::is(size, type::pair);
        s.x = pair::x(args + 4), s.y = pair::y(args + 4);
    } else if (!cell::is(args + 4, type::none)) {
        error::fire(error::id::invalid_arg, args + 4);
    }
    queue_event(code, bits, s);
    return answer_none();
}

uint32_t queue_quit_of(const Call&) {
    queue_quit();
    return answer_none();
}

// A block of screens, each a block [offset size scale].
uint32_t set_screens_of(const Call&) {
    const Cell* list = stack::args;
    std::vector<Screen> screens;
    for (int32_t i = series::clamped_index(list), n = series::total_length(list); i < n; ++i) {
        const Cell* one = block::ks_abs_at(list, i);
        auto at = [&](int32_t k) { return block::ks_abs_at(one, series::clamped_index(one) + k); };
        if (!cell::is(one, type::block) || series::length_from(one) != 3 || !cell::is(at(0), type::pair) ||
            !cell::is(at(1), type::pair) || !cell::is(at(2), type::float_))
            error::fire(error::id::invalid_arg, one);
        screens.push_back(Screen{pair::x(at(0)), pair::y(at(0)), pair::x(at(1)), pair::y(at(1)), cell::real(at(2))});
    }
    if (screens.empty()) error::fire(error::id::invalid_arg, list);
    set_screens(std::move(screens));
    return answer_none();
}

}  // namespace

void make_view_record() {
    const char text[] =
        "make object! [log: clear-log: queue-text: queue-event: queue-quit: set-screens: clipboard: none]";
    Cell* top = stack::top;
    if (environment::run_text(text, sizeof text - 1)) exits::raise_pending();
    Cell object = *stack::last();
    Cell word = *context::find_or_add_global(symbol::make("view-record"));
    word::set(&word, &object);
    stack::top = top;
    environment::set_field_routine(object, "log", R"(["The calls logged since the last clear-log" return: [block!]])",
                                   log_of);
    environment::set_field_routine(object, "clear-log", "[]", clear_log_of);
    environment::set_field_routine(object, "queue-text",
                                   R"(["Queues key-down and key for each character" face [object!] text [string!]])",
                                   queue_text_of);
    environment::set_field_routine(
        object, "queue-event",
        R"(["Queues a message to the face's window" face [object!] type [word!]
            key [any-type!] "a char!, a special key's word, a wheel delta or none" flags [block!]
            offset [any-type!] "a pair! or none"])",
        queue_event_of);
    environment::set_field_routine(object, "queue-quit", R"(["Queues the end of the innermost loop"])",
                                   queue_quit_of);
    environment::set_field_routine(object, "set-screens",
                                   R"(["Replaces the screens" screens [block!] "blocks of offset, size, scale"])",
                                   set_screens_of);
    if (environment::run_text(clipboard_functions, sizeof clipboard_functions - 1)) exits::raise_pending();
    stack::top = top;
}

}  // namespace kel::view::record
