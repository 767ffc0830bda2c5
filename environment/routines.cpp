#include "environment/routines.hpp"

#include <cstdlib>
#include <cstring>

#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/file.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/platform/env.hpp"
#include "runtime/platform/files.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::environment {
namespace {

// quit-return status: ends the process with the status through the C
// library's exit, so no further Kel code runs and the runtime's own exit
// hooks are passed by.
uint32_t quit_return(const Call&) { std::exit(cell::integer(stack::args)); }

// ---- the current directory and the existence of files

// get-current-dir: the process's current directory.
uint32_t get_current_dir(const Call&) {
    stack::set_result(push_current_dir());
    return 0;
}

// set-current-dir path: makes the file the process's current directory;
// failure raises access cannot-open with the path.
uint32_t set_current_dir(const Call&) {
    Cell* path = stack::args;
    if (!sysrt::set_current_dir(file::to_local_path(path))) error::fire(error::id::cannot_open, path);
    stack::set_result(path);
    return 0;
}

// create-dir path: makes one directory; failure raises access no-create.
uint32_t create_dir(const Call&) {
    Cell* path = stack::args;
    if (!files::make_dir(file::to_local_path(path))) error::fire(error::id::no_create, path);
    stack::set_result(path);
    return 0;
}

// exists? path: whether the path names a file or a directory; a name the
// system cannot take (one holding a NUL) names nothing.
uint32_t exists_q(const Call&) {
    Cell* path = stack::args;
    bool found = string::to_utf8(path).find('\0') == std::string::npos && files::exists(file::to_local_path(path));
    cell::set_logic(path, found);
    return 0;
}

}  // namespace

Cell* push_current_dir() {
    std::u32string text = file::kel_text(file::current_dir());
    if (text.empty() || text.back() != '/') text += '/';
    Cell* out = stack::push_slot();
    cell::set_none(out);
    string::make(out, uint32_t(text.size()));
    cell::set_type(out, type::file);
    string::append_text(out, text);
    return out;
}

void make_environment_routines() {
    define_routine("quit-return",
                   R"(["Stops evaluation and exits the program with a given status"
                       status [integer!] "Process termination value to return"])",
                   quit_return);
    make_value_routines();
    make_os_routines();
    define_routine("get-current-dir", R"(["Returns the platform's current directory for the process"])",
                   get_current_dir);
    define_routine("set-current-dir", R"(["Sets the platform's current process directory" path [file!]])",
                   set_current_dir);
    define_routine("create-dir", R"(["Create the given directory" path [file!]])", create_dir);
    define_routine("exists?", R"(["Returns TRUE if the file exists" path [file!] return: [logic!]])", exists_q,
                   type::logic);
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
