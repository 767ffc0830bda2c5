#include "environment/boot.hpp"

#include <cstring>

#include "environment/codecs.hpp"
#include "environment/json.hpp"
#include "environment/predicates.hpp"
#include "environment/routines.hpp"
#include "environment/script.hpp"
#include "environment/system.hpp"
#include "runtime/interp_trace.hpp"
#include "runtime/actions.hpp"
#include "runtime/call.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/exits.hpp"
#include "runtime/interp.hpp"
#include "runtime/collector.hpp"
#include "runtime/kelbin/kelbin.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::environment {
namespace {

void set_global(const char* name, const Cell& value) {
    Cell word = *context::find_or_add_global(symbol::make(name));
    word::set(&word, &value);
}

// `make` as the sources' first line makes it: make action! [[type spec] 1].
void predefine_make() {
    Cell* top = stack::top;
    static const char spec[] = "[type spec] 1";
    Cell* block = stack::push_slot();
    cell::set_none(block);
    lexer::load_utf8(spec, std::strlen(spec), lexer::ScanOptions{}, block);
    Cell* made = stack::push_slot();
    cell::set_datatype(made, type::action);
    Cell value = *actions::handler<actions::Make>(type::action, action::make, made)(made, block, type::action);
    set_global("make", value);
    stack::top = top;
}

// external! holds event!, whose datatype the GUI registers after the boot
// environment has run.
void make_external() {
    Cell ts{type::typeset, 0, 0, 0};
    cell::typeset_add(&ts, type::event);
    set_global("external!", ts);
}

}  // namespace

uint32_t run_text(const char* text, size_t length, const Cell* callback) {
    Cell* code = stack::push_slot();
    cell::set_none(code);
    lexer::load_utf8(text, length, lexer::ScanOptions{}, code);
    // A header: the word Kel followed by a block.
    if (series::length_from(code) >= 2) {
        const Cell* first = block::ks_abs_at(code, series::clamped_index(code));
        if (cell::is(first, type::word) && symbol::name(first->payload2) == "Kel" &&
            cell::is(first + 1, type::block))
            code->payload1 += 2;
    }
    Cell block = *code;
    if (callback) {
        // trace_block leaves its result in its caller's args[0]: a frame of its own
        Cell* kept = stack::top;
        stack::mark_native(nullptr);
        stack::push(&block);
        if (uint32_t pending = interp::trace_block(callback, &block)) return pending;
        Cell result = *stack::args;
        stack::unwind_drop();
        stack::top = kept;
        *code = result;
        return 0;
    }
    uint32_t pending = interp::eval_block(&block, false);
    if (pending) return pending;
    *code = *stack::last();  // the result replaces the code
    stack::pop(1);
    return 0;
}

void boot() {
    predefine_make();
    make_external();
    make_predicates();
    make_environment_routines();
    make_json_routines();
    make_quiet_setters();
    // The image holds one block per source; each is evaluated in order.
    collector::RootCell image;
    block::make_at(&image.cell, 8);
    kelbin::load_boot(boot_image, boot_image_size, &image.cell);
    uint32_t n = series::cell_count(image.cell.payload2);
    for (uint32_t i = 0; i < n; ++i) {
        Cell* top = stack::top;
        Cell code = series::cells_of(image.cell.payload2)[i];
        if (interp::eval_block(&code, false)) exits::raise_pending();
        stack::top = top;
    }
    fill_system_object();
    make_codec_routines();
    // Natives first called during the boot met typeset words not yet made.
    call::settle_parsed_specs(context::global);
    natives::check_boot();
    // The top level's last act: the command line split into system/options.
    extract_boot_args();
}

}  // namespace kel::environment
