#include "environment/system.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "environment/routines.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/file.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/natives/control.hpp"
#include "runtime/platform/env.hpp"
#include "runtime/platform/host.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/sysrt.hpp"
#include "runtime/system.hpp"
#include "runtime/words.hpp"

namespace kel::environment {
namespace {

// ---- the quiet setters

// set-quiet word value: the word's value in its own context becomes the
// value, with no on-change* call. A field of an object that owns its
// fields' series takes the new value as owned and lets the old one go, as
// any field store does.
uint32_t set_quiet(const Call&) {
    Cell* a = stack::args;
    uint8_t t = cell::type_of(a);
    if (t != type::word && t != type::set_word && t != type::lit_word && t != type::get_word)
        error::fire_expect_arg(a, "word");
    Cell w = *a, v = a[1];
    NodeId ctx = word::context_of(&w);
    if (!ctx) word::fire_unbound(&w);
    Cell* old = stack::push_slot();  // the value replaced, where the collector sees it
    cell::set_none(old);
    if (word::index_of(&w) >= 0) *old = *context::word_value_cell(&w, ctx);
    context::store_word(&w, &v, ctx, false);
    Cell owner = *context::owner_cell(ctx);
    if (cell::is(&owner, type::object) && object::context_of(&owner) == ctx)
        object::own_field(&owner, uint32_t(word::index_of(&w)), old);
    stack::set_result(&v);
    return 0;
}

// set-slot-quiet series value: the cell at the series' position becomes
// the value (nothing at the tail), with no on-deep-change* call.
uint32_t set_slot_quiet(const Call&) {
    Cell* a = stack::args;
    switch (cell::type_of(a)) {
        case type::block: case type::paren: case type::path: case type::lit_path: case type::set_path:
        case type::get_path: break;
        default: error::fire_expect_arg(a, "series");
    }
    int32_t at = series::clamped_index(a);
    if (at < series::total_length(a)) *block::ks_abs_at(a, at) = a[1];
    stack::set_result(a + 1);
    return 0;
}

// ---- system/state/GC

int32_t saturated(uint64_t n) { return int32_t(std::min<uint64_t>(n, INT32_MAX)); }

uint32_t gc_active(const Call&) {
    Cell r;
    cell::set_logic(&r, sys::record.collector_enabled);
    stack::set_result(&r);
    return 0;
}

uint32_t gc_series_cycles(const Call&) {
    Cell r;
    cell::set_integer(&r, saturated(collector::counters.collections));
    stack::set_result(&r);
    return 0;
}

uint32_t gc_nodes_cycles(const Call&) {
    Cell r;
    cell::set_integer(&r, saturated(collector::counters.node_frame_cycles));
    stack::set_result(&r);
    return 0;
}

// ---- the routines of the options handlers

// set-float-flag word value: the float text switch that options/float's
// field names (pretty? or full?) is on when the value is truthy.
uint32_t set_float_flag(const Call&) {
    static constexpr std::array<std::string_view, 2> flags = {"pretty?", "full?"};
    Cell* a = stack::args;
    bool on = natives::truthy(a + 1);
    if (auto which = symbol::pick_word(a, flags)) (*which == 0 ? float_::pretty_print : float_::full_support) = on;
    stack::set_result(a + 1);
    return 0;
}

// The handler of system/options/float calls this by name; the words of its
// body are bound to a context of this routine, so the global word stays
// free.
struct Service {
    const char* name;
    const char* spec;
    Entry entry;
};
constexpr Service services[] = {
    {"set-float-flag", "[word [word!] value [any-type!]]", set_float_flag},
};

void bind_to_services(Cell object, const char* handler, NodeId ctx) {
    Cell* slot = field(object, handler);
    if (!slot || !cell::is(slot, type::function)) return;
    Cell fn = *slot;
    Cell body = *function::more(&fn, function::More::body);
    if (cell::is(&body, type::block)) context::bind_block(&body, ctx, false);
}

void give_services(Cell options) {
    Cell* top = stack::top;
    Cell* holder = object::make_at(stack::push_slot(), uint32_t(std::size(services)));
    NodeId ctx = object::context_of(holder);
    for (const Service& s : services) {
        Cell* made = push_routine(s.spec, s.entry);
        Cell word{type::word, 0, symbol::make(s.name), uint32_t(-1)};
        context::put_value(ctx, &word, made);
    }
    if (Cell* float_options = field(options, "float")) bind_to_services(*float_options, "on-change*", ctx);
    stack::top = top;
}

// ---- filling the object

Cell field_value(Cell object, const char* name) {
    Cell* slot = field(object, name);
    return slot ? *slot : Cell{type::none, 0, 0, 0};
}

// Stores the value (a cell outside any buffer, or on the stack) into the
// object's field, taken as owned when the object owns its fields.
void store(Cell object, const char* name, const Cell* value) {
    if (!cell::is(&object, type::object)) return;
    int32_t i = context::find_word_index(object::context_of(&object), symbol::make(name), true);
    if (i < 0) return;
    Cell* old = stack::push(object::value_at(object::context_of(&object), uint32_t(i)));
    *object::value_at(object::context_of(&object), uint32_t(i)) = *value;
    object::own_field(&object, uint32_t(i), old);
}

Cell build_date() {
    Cell* top = stack::top;
    Cell* loaded = stack::push_slot();
    cell::set_none(loaded);
    const char* text = build::date();
    lexer::load_utf8(text, std::strlen(text), lexer::ScanOptions{}, loaded);
    Cell date = *block::ks_abs_at(loaded, 0);
    stack::top = top;
    return date;
}

// The base of the download cache: the user's folder (APPDATA on Windows,
// HOME elsewhere) in Kel's form, then Kel/ (.kel/ elsewhere). Without that
// variable, or with it empty, the folder is %./ (%/tmp elsewhere).
Cell* push_cache_dir() {
    std::optional<std::string> home = sysrt::get_env(os::windows ? "APPDATA" : "HOME");
    if (home && !home->empty()) push_kel_file(*home);
    else push_kel_file(os::windows ? "./" : "/tmp");
    std::u32string text = string::text_of(stack::last());
    if (text.empty() || text.back() != '/') text += '/';
    text += os::windows ? U"Kel/" : U".kel/";
    Cell* out = stack::last();
    string::make(out, uint32_t(text.size()));
    cell::set_type(out, type::file);
    string::append_text(out, text);
    return out;
}

}  // namespace

void make_quiet_setters() {
    define_routine("set-quiet",
                   "[\"Set an object's field to a value without triggering eventual object's events\" "
                   "word [any-type!] value [any-type!] return: [any-type!]]",
                   set_quiet);
    define_routine("set-slot-quiet",
                   "[\"Set a value in series without triggering eventual owner's events\" "
                   "series [any-type!] value [any-type!]]",
                   set_slot_quiet);
}

void fill_system_object() {
    Cell* top = stack::top;
    Cell system = *word::fetch(context::find_or_add_global(symbol::make("system")));
    if (!cell::is(&system, type::object)) return;
    store(system, "words", object::box(context::global, uint32_t(-1)));
    Cell os = *(os::windows ? words::words.windows : words::words.linux_);
    store(system, "platform", &os);
    Cell build = field_value(system, "build");
    store(field_value(build, "config"), "OS", &os);
    Cell date = build_date();
    store(build, "date", &date);
    store(field_value(system, "catalog"), "errors", &error::catalog);
    Cell gc = field_value(field_value(system, "state"), "GC");
    set_field_routine(gc, "active?", "[return: [logic!]]", gc_active, type::logic);
    set_field_routine(gc, "series-cycles", "[return: [integer!]]", gc_series_cycles, type::integer);
    set_field_routine(gc, "nodes-cycles", "[return: [integer!]]", gc_nodes_cycles, type::integer);
    // The raw command line, for extract-boot-args to split.
    std::string line = os::command_line();
    Cell* raw = stack::push_slot();
    cell::set_none(raw);
    string::make_from_utf8(raw, line.data(), line.size());
    store(field_value(system, "script"), "args", raw);
    Cell options = field_value(system, "options");
    store(options, "path", push_current_dir());
    store(options, "cache", push_cache_dir());
    give_services(options);
    stack::top = top;
}

}  // namespace kel::environment
