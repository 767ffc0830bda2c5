#include "environment/routines.hpp"

#include <cstdlib>
#include <cstring>

#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::environment {
namespace {

// quit-return status: ends the process with the status through the C
// library's exit, so no further Kel code runs and the runtime's own exit
// hooks are passed by.
uint32_t quit_return(const Call&) { std::exit(cell::integer(stack::args)); }

// Sets the global word to a routine of the spec and entry.
void define(const char* name, const char* spec, Entry entry) {
    Cell* top = stack::top;
    Cell* routine = push_routine(spec, entry);
    Cell word = *context::find_or_add_global(symbol::make(name));
    word::set(&word, routine);
    stack::top = top;
}

}  // namespace

Cell* push_routine(const char* spec, Entry entry) {
    Cell* loaded = stack::push_slot();
    cell::set_none(loaded);
    lexer::load_utf8(spec, std::strlen(spec), lexer::ScanOptions{}, loaded);
    Cell spec_block = *block::ks_abs_at(loaded, 0);
    Cell* held = stack::push(&spec_block);
    Cell routine = *routine::push(held, nullptr, routine::add_entry(entry), -1, false);
    *loaded = routine;
    stack::top = loaded + 1;
    return loaded;
}

void make_environment_routines() {
    define("quit-return",
           R"(["Stops evaluation and exits the program with a given status"
               status [integer!] "Process termination value to return"])",
           quit_return);
}

}  // namespace kel::environment
