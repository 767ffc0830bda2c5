#include "environment/routines.hpp"

#include <cstdlib>
#include <cstring>

#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::environment {
namespace {

// quit-return status: ends the process with the status through the C
// library's exit, so no further Kel code runs and the runtime's own exit
// hooks are passed by.
uint32_t quit_return(const Call&) { std::exit(cell::integer(stack::args)); }

}  // namespace

void make_environment_routines() {
    define_routine("quit-return",
                   R"(["Stops evaluation and exits the program with a given status"
                       status [integer!] "Process termination value to return"])",
                   quit_return);
    make_value_routines();
    make_os_routines();
}

Cell* push_routine(const char* spec, Entry entry, int32_t result_kind) {
    Cell* loaded = stack::push_slot();
    cell::set_none(loaded);
    lexer::load_utf8(spec, std::strlen(spec), lexer::ScanOptions{}, loaded);
    Cell spec_block = *block::ks_abs_at(loaded, 0);
    Cell* held = stack::push(&spec_block);
    return routine::push(held, nullptr, routine::add_entry(entry), result_kind, false);
}

void define_routine(const char* name, const char* spec, Entry entry, int32_t result_kind) {
    Cell* top = stack::top;
    Cell* made = push_routine(spec, entry, result_kind);
    Cell word = *context::find_or_add_global(symbol::make(name));
    word::set(&word, made);
    stack::top = top;
}

Cell* field(Cell object, const char* name) {
    if (!cell::is(&object, type::object)) return nullptr;
    uint32_t symbol = symbol::make(name);
    int32_t i = context::find_word_index(object::context_of(&object), symbol, true);
    return i < 0 ? nullptr : object::value_at(object::context_of(&object), uint32_t(i));
}

void set_field_routine(Cell object, const char* name, const char* spec, Entry entry, int32_t result_kind) {
    Cell* top = stack::top;
    Cell* made = push_routine(spec, entry, result_kind);
    if (Cell* slot = field(object, name)) *slot = *made;
    stack::top = top;
}

}  // namespace kel::environment
