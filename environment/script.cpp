#include "environment/script.hpp"

#include <cstring>
#include <string>
#include <string_view>

#include "environment/boot.hpp"
#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/symbol.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/simpleio.hpp"
#include "runtime/platform/files.hpp"
#include "runtime/stack.hpp"

namespace kel::environment {
namespace {

Cell* push_file(const char* path) {
    Cell* file = stack::push_slot();
    cell::set_none(file);
    string::make_from_utf8(file, path, std::strlen(path));
    cell::set_type(file, type::file);
    return file;
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Where the header starts: the first "Kel", optionally "/System", then any
// blanks and "[". Case matters. npos when there is none.
size_t find_header(std::string_view text) {
    for (size_t at = text.find("Kel"); at != std::string_view::npos; at = text.find("Kel", at + 1)) {
        size_t p = at + 3;
        if (text.substr(p, 7) == "/System") p += 7;
        while (p < text.size() && blank(text[p])) ++p;
        if (p < text.size() && text[p] == '[') return at;
    }
    return std::string_view::npos;
}

// Finds the header of and evaluates the script text read from the path;
// the result is left as the last pushed cell. Answers the pending exit code.
uint32_t run_file(const std::optional<std::string>& text, const std::string& path, const Cell* callback) {
    if (!text) {
        Cell* file = push_file(path.c_str());
        error::fire(error::id::cannot_open, file);
    }
    size_t header = find_header(*text);
    if (header == std::string_view::npos) {
        Cell* file = push_file(path.c_str());
        Cell* arg = block::push_new(1);
        block::ks_append(arg, file);
        error::fire(error::id::no_header, arg);
    }
    if (std::string_view(*text).substr(header, 10) == "Kel/System")
        error::fire(error::id::kel_system);
    return run_text(text->data() + header, text->size() - header, callback);
}

// do-file file callback do-args: the script runner that `do` of a file!
// calls.
uint32_t do_file(const Call&) {
    Cell* base = stack::args;
    std::string path = string::to_utf8(base);
    const Cell* callback = cell::is(base + 1, type::function) ? base + 1 : nullptr;
    std::optional<std::string> text;
    if (cell::is(base, type::file)) {
        text = simpleio::read_bytes(base);
    } else {
        // A url is read by its own read action.
        Cell* read = actions::handler<actions::Read>(type::url, action::read, base)(base, nullptr, nullptr, false,
                                                                                    false, false, nullptr);
        text = string::to_utf8(read);
    }
    if (uint32_t pending = run_file(text, path, callback)) return pending;
    stack::set_result(stack::last());
    return 0;
}

}  // namespace

void run_script(const char* path) {
    Cell* top = stack::top;
    if (run_file(files::read(path, -1, -1), path, nullptr)) exits::raise_pending();
    stack::top = top;
}

void make_script_runner() {
    static const char spec[] = "[file [file! url!] callback [function! none!] do-args [any-type!]]";
    Cell* top = stack::top;
    Cell* block = stack::push_slot();
    cell::set_none(block);
    lexer::load_utf8(spec, std::strlen(spec), lexer::ScanOptions{}, block);
    Cell spec_block = *block::ks_abs_at(block, 0);
    Cell* held = stack::push(&spec_block);
    Cell routine = *routine::push(held, nullptr, routine::add_entry(do_file), -1, true);
    Cell word = *context::find_or_add_global(symbol::make("do-file"));
    word::set(&word, &routine);
    stack::top = top;
}

}  // namespace kel::environment
