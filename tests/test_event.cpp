// event!: the fields of native events, read from their message snapshots.
#include <gtest/gtest.h>

#include "runtime/datatypes/word.hpp"
#include "runtime/context.hpp"
#include "runtime/symbol.hpp"
#include "tests/support/environment.hpp"
#include "view/backend/event.hpp"
#include "view/backend/snapshot.hpp"
#include "view/backend/units.hpp"
#include "view/backend/windows.hpp"

using namespace kel;
using namespace kel::test;
using view::snapshot::Snapshot;

namespace {

struct Event : WithEnvironment<> {
    void TearDown() override {
        view::units::scale = 1.0;
        view::windows::lookup = saved;
        WithEnvironment<>::TearDown();
    }
    view::windows::Lookup saved = view::windows::lookup;
};

// Sets the global word `ev` to a native event of the type word over the snapshot.
void set_event(const char* type_name, uint32_t bits, const Snapshot& s) {
    Cell name;
    word::make_in(symbol::make(type_name), &name);
    Cell e;
    event::make_native(&e, event::code_of(&name), bits, view::snapshot::keep(s));
    Cell w = *context::find_or_add_global(symbol::make("ev"));
    word::set(&w, &e);
}

struct FieldCase {
    const char* type;
    uint32_t bits;
    Snapshot snapshot;
    const char* source;
    const char* expected;
};

Snapshot at(int32_t x, int32_t y) {
    Snapshot s;
    s.has_offset = true, s.x = x, s.y = y;
    return s;
}
Snapshot special(int32_t vk) {
    Snapshot s;
    s.special_key = vk;
    return s;
}
Snapshot scroll(bool vertical, int32_t request, int32_t position) {
    Snapshot s;
    s.vertical = vertical, s.scroll_code = request, s.scroll_pos = position;
    return s;
}
Snapshot wheel(int32_t delta) {
    Snapshot s;
    s.wheel = delta;
    return s;
}

}  // namespace

TEST_F(Event, NativeFields) {
    Snapshot sized = at(30, 40);
    sized.offset_pair = true;
    Snapshot item;
    item.list_item = 3;
    Snapshot zoom;
    zoom.has_zoom = true, zoom.zoom = 1.5;
    Snapshot menu;
    menu.menu_symbol = symbol::make("open-file");
    const FieldCase cases[] = {
        {"down", event::flag::down | event::flag::control, at(10, -20), "reduce [ev/type ev/offset ev/flags]",
         "[down (10, -20) [down control]]"},
        {"resize", 0, sized, "ev/offset", "30x40"},
        {"key", 0x61, {}, "reduce [ev/key ev/picked]", "[#\"a\" 97]"},
        {"key", 0x1F600, {}, "ev/key", "#\"\U0001F600\""},
        {"key-down", 0x1F600, {}, "ev/key", "#\"\uF600\""},
        {"key-down", 0x26, special(0x26), "ev/key", "up"},
        {"key", 0x7B, special(0x7B), "ev/key", "F12"},
        {"key", 0x41, special(0x41), "ev/key", "none"},
        {"key-up", 0x41, special(0x41), "ev/key", "#\"A\""},
        {"scroll", 0, scroll(true, 5, 70000), "reduce [ev/key ev/picked ev/orientation]", "[track 70000 vertical]"},
        {"scroll", 0, scroll(false, 3, 4), "reduce [ev/key ev/orientation]", "[page-right horizontal]"},
        {"scroll", 0, scroll(true, 8, 0), "ev/key", "end"},
        {"wheel", 0, wheel(-120), "reduce [ev/key ev/picked]", "[wheel -1.0]"},
        {"wheel", 0, wheel(30000), "ev/picked", "-6.0"},
        {"wheel", 0, wheel(-30000), "ev/picked", "6.0"},
        {"dbl-click", 0, item, "ev/picked", "3"},
        {"down", 0, {}, "ev/picked", "none"},
        {"zoom", 0, zoom, "ev/picked", "150%"},
        {"zoom", 0, {}, "ev/picked", "none"},
        {"menu", 0, menu, "ev/picked", "open-file"},
        {"time", 0xFFFF, {}, "reduce [ev/picked ev/offset ev/orientation ev/face ev/window]", "[-1 none none none none]"},
        {"over", event::flag::away | event::flag::alt | event::flag::command, {},
         "reduce [ev/flags ev/away? ev/ctrl?]", "[[away alt] true false]"},
    };
    for (const FieldCase& c : cases) {
        set_event(c.type, c.bits, c.snapshot);
        EXPECT_EQ(eval(c.source), c.expected) << c.type << ": " << c.source;
    }
}

// Offsets are logical units: pixels divided by the display's scale.
TEST_F(Event, OffsetsAreScaled) {
    view::units::scale = 1.5;
    set_event("up", 0, at(151, -30));
    EXPECT_EQ(eval("ev/offset"), "(100.6667, -20)");
}

// The face and the window come from the back end's windows.
TEST_F(Event, FaceAndWindowFromTheBackEnd) {
    view::windows::lookup.face_of = [](uint64_t w, Cell* out) { cell::set_integer(out, int32_t(w)); };
    view::windows::lookup.root_of = [](uint64_t w) { return w == 7 ? uint64_t(1) : uint64_t(0); };
    Snapshot s;
    s.window = 7;
    set_event("click", 0, s);
    EXPECT_EQ(eval("reduce [ev/face ev/window]"), "[7 1]");
}

// A kept event reads its own message after later dispatches, and none
// once the ring has reused its slot; its type and flags stay.
TEST_F(Event, KeptEventReadsItsOwnSnapshot) {
    set_event("down", event::flag::shift, at(1, 2));
    eval("kept: ev");
    for (int i = 0; i < 1000; ++i) view::snapshot::keep(at(i, i));
    EXPECT_EQ(eval("kept/offset"), "(1, 2)");
    for (int i = 0; i < 100; ++i) view::snapshot::keep(at(i, i));
    EXPECT_EQ(eval("reduce [kept/type kept/offset kept/shift?]"), "[down none true]");
}
