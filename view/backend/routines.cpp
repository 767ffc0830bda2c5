#include "view/backend/routines.hpp"

#include <array>
#include <string>
#include <utility>

#include "environment/boot.hpp"
#include "environment/routines.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::view::routines {
namespace {

struct SlotSpec {
    const char* name;
    const char* spec;  // null: data, a Kel function, or a routine not built yet
};

constexpr SlotSpec slots[count] = {
    {"mouse-event?", nullptr},
    {"make-null-handle", "[]"},
    {"fetch-all-screens", "[]"},
    {"get-current-screen", "[]"},
    {"all-windows-closed?", nullptr},
    {"refresh-screens", nullptr},
    {"get-screen-size", "[id [integer!]]"},
    {"size-text", "[face [object!] value [any-type!]]"},
    {"on-change-facet",
     "[owner [object!] word [any-word!] value [any-type!] action [word!] new [any-type!] index [integer!] "
     "part [integer!]]"},
    {"update-text", nullptr},
    {"update-font", "[font [object!] flags [integer!]]"},
    {"update-para", nullptr},
    {"destroy-view", "[face [object!] empty? [logic!]]"},
    {"detach-image", "[img [image!]]"},
    {"update-view", "[face [any-type!]]"},
    {"refresh-window", "[h [handle!]]"},
    {"redraw", "[face [object!]]"},
    {"show-window", "[id [handle!]]"},
    {"make-view", "[face [object!] parent [handle!]]"},
    {"draw-image", nullptr},
    {"draw-face", "[face [object!] cmds [block!]]"},
    {"do-event-loop", "[no-wait? [logic!]]"},
    {"exit-event-loop", "[]"},
    {"request-font", nullptr},
    {"request-file", nullptr},
    {"request-dir", nullptr},
    {"text-box-metrics", "[box [object!] arg0 [any-type!] type [integer!]]"},
    {"update-scroller", "[scroller [object!] flags [integer!]]"},
    {"set-dark-mode", "[face [object!] dark? [logic!]]"},
    {"support-dark-mode?", "[return: [logic!]]"},
    {"toggle-GPU", "[]"},
    {"init", nullptr},
    {"version", nullptr},
    {"build", nullptr},
    {"product", nullptr},
};

const Backend* active = nullptr;
Cell context{type::none, 0, 0, 0};

void mark_context() { collector::mark_cells(&context, &context + 1); }

[[noreturn]] void fire_unavailable(Slot s) {
    Cell w;
    word::make_in(symbol::make(slots[s].name), &w);
    error::fire(error::id::not_available, &w);
}

template <uint32_t S>
uint32_t slot_entry(const Call& call) {
    if (!active || !active->entries[S]) fire_unavailable(Slot(S));
    return active->entries[S](call);
}

template <uint32_t... S>
constexpr std::array<Entry, count> make_entries(std::integer_sequence<uint32_t, S...>) {
    return {&slot_entry<S>...};
}
constexpr std::array<Entry, count> entries = make_entries(std::make_integer_sequence<uint32_t, count>{});

}  // namespace

void make(const Backend* backend) {
    active = backend;
    std::string text = "make object! [";
    for (const SlotSpec& s : slots) text += std::string(s.name) + ": ";
    text += "none]";
    Cell* top = stack::top;
    if (environment::run_text(text.data(), text.size())) exits::raise_pending();
    context = *stack::last();
    stack::top = top;
    collector::remove_callback(mark_context);
    collector::add_callback(mark_context);
    Cell no;
    cell::set_logic(&no, false);
    *environment::field(context, slots[mouse_event_q].name) = no;
    for (uint32_t s = 0; s < count; ++s)
        if (slots[s].spec) environment::set_field_routine(context, slots[s].name, slots[s].spec, entries[s]);
}

Cell object() { return context; }

const char* name_of(Slot s) { return slots[s].name; }

}  // namespace kel::view::routines
