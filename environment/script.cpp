#include "environment/script.hpp"

#include <cstring>

#include "environment/boot.hpp"
#include "runtime/call.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/exits.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::environment {

void extract_boot_args() {
    Cell* top = stack::top;
    Cell word = *context::find_or_add_global(symbol::make("extract-boot-args"));
    Cell fn = *word::fetch(&word);
    if (cell::is(&fn, type::function)) {
        if (call::with_values(fn, word, nullptr, 0)) exits::raise_pending();
    }
    stack::top = top;
}

void run_script() {
    // The script's name is the first argument; the text of the arguments
    // after it (blanks before and after the name passed over, a quoted
    // name taken whole) is what the script sees as system/script/args.
    static const char launch[] = R"(
        apply func [/local file blank rest] [
            file: to-kel-file take system/options/args
            system/options/script: file
            if string? rest: system/script/args [
                blank: charset " ^-^M^/"
                parse rest [any blank [{"} thru {"} | to blank | to end] any blank rest:]
                remove/part system/script/args rest
            ]
            do-file file none system/script/args
        ] []
    )";
    Cell* top = stack::top;
    static const char has_script[] = "all [block? system/options/args not empty? system/options/args]";
    if (run_text(has_script, std::strlen(has_script))) exits::raise_pending();
    bool script = cell::is(stack::last(), type::logic) && cell::logic(stack::last());
    stack::top = top;
    if (!script) return;
    if (run_text(launch, std::strlen(launch))) exits::raise_pending();
    stack::top = top;
}

}  // namespace kel::environment
