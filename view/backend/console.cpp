#include "view/backend/console.hpp"

#include <cstring>
#include <string>

#include "environment/routines.hpp"
#include "runtime/alloc.hpp"
#include "runtime/call.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/interp.hpp"
#include "runtime/output.hpp"
#include "runtime/platform/gui.hpp"
#include "runtime/platform/host.hpp"
#include "runtime/root.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::view::console {
namespace {

// gui-console-buffer: a cell of the root block, so the collector keeps the
// string the text hook decodes into; unset until the first text.
Cell* buffer = nullptr;

Cell global(const char* name) { return *word::fetch(context::find_or_add_global(symbol::make(name))); }

// The interpreter's state around a call from a hook into Kel: the stack top
// and the code block errors take their place from, put back on every way out.
struct CallState {
    Cell* top = stack::top;
    Cell block = interp::current_block;
    ~CallState() {
        stack::top = top;
        interp::current_block = block;
    }
};

// add-gui-print: both hooks, once however often it is called.
uint32_t add_gui_print(const Call&) {
    if (!buffer) {
        Cell unset{};
        cell::set_unset(&unset);
        buffer = root::record(&unset);
        output::register_print_hooks(print_value, print_text);
    }
    cell::set_unset(stack::args);
    return 0;
}

uint32_t get_caret_blink_time(const Call&) {
    cell::set_integer(stack::args, gui::caret_blink_ms());
    return 0;
}

// init str: titles the host's text console. Without one it says so and
// answers false; the program goes on.
uint32_t init(const Call&) {
    bool done = gui::set_console_title(string::to_utf8(stack::args).c_str());
    if (!done) sysrt::print_line({TypedPrintItem::text("SetConsoleTitle failed!")});
    cell::set_logic(stack::args, done);
    return 0;
}

// write-stderr text: the text and a line end on standard error, for what
// must be seen when the console's own window is gone.
uint32_t write_stderr(const Call&) {
    std::string text = string::to_utf8(stack::args) + os::line_end;
    os::write_stderr(text.data(), text.size());
    cell::set_unset(stack::args);
    return 0;
}

}  // namespace

void print_value(const Cell* text, bool newline) {
    if (stack::cells_end - stack::top < 80 || stack::frames_end - stack::frame_top < 60)
        error::fire(error::id::stack_overflow);
    Cell ctx = global("gui-console-ctx");
    const Cell* terminal = environment::field(ctx, "terminal");
    const Cell* vprint = terminal ? environment::field(*terminal, "vprint") : nullptr;
    if (!vprint || !cell::is(vprint, type::function)) return;
    Cell fn = *vprint, name;
    word::make_in(symbol::make("vprint"), &name);
    Cell values[2] = {*text, {}};
    cell::set_logic(&values[1], newline);
    CallState saved;
    if (call::with_values(fn, name, values, 2)) exits::raise_pending();
}

// A string unit wider than a byte is left to the collector: the next text
// starts narrow again, widening only as far as it needs.
void print_text(const char* text, size_t length, int flag) {
    if (!buffer) return;
    if (length == size_t(-1)) length = std::strlen(text);
    if (cell::is(buffer, type::string) && series::unit_of(alloc::buffer_of(buffer->payload2)) == 1) {
        buffer->payload1 = 0;
        string::truncate(buffer, 0);
        string::append_utf8(buffer, text, length);
    } else {
        string::make_from_utf8(buffer, text, length);
    }
    print_value(buffer, flag != 0);
}

void make_routines() {
    buffer = nullptr;  // a new runtime: its root block has no buffer yet
    environment::define_routine("add-gui-print", R"(["Internal Use Only"])", add_gui_print);
    environment::define_routine("write-stderr", R"(["Internal Use Only" text [string!]])", write_stderr);
    environment::define_routine("get-caret-blink-time", R"([return: [integer!]])", get_caret_blink_time,
                                type::integer);
}

void install() {
    Cell system = global("system");
    if (const Cell* engine = environment::field(system, "console"))
        environment::set_field_routine(*engine, "init", R"([str [string!] return: [logic!]])", init, type::logic);
    Cell ctx = global("gui-console-ctx");
    if (environment::field(ctx, "add-gui-print"))
        environment::set_field_routine(ctx, "add-gui-print", R"(["Internal Use Only"])", add_gui_print);
}

}  // namespace kel::view::console
