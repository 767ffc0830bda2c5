// The environment routines over the operating system: os-info, the
// clipboard (text and file lists) and writing to standard output.
#include <string>
#include <vector>

#include "environment/routines.hpp"
#include "runtime/call.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/file.hpp"
#include "runtime/datatypes/image.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/platform/clipboard.hpp"
#include "runtime/platform/os_info.hpp"
#include "runtime/simpleio.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::environment {
namespace {

void append_field(Cell* spec, const char* name, const Cell& value) {
    Cell word{type::set_word, 0, symbol::make(name), uint32_t(-1)};
    block::ks_append(spec, &word);
    block::ks_append(spec, &value);
}

// The record as an object: name, arch, version, build.
uint32_t os_info(const Call&) {
    os::VersionRecord r = os::version();
    Cell* spec = block::push_new(8);
    Cell* name = stack::push_slot();
    string::make_from_utf8(name, r.name.data(), r.name.size());
    append_field(spec, "name", *name);
    append_field(spec, "arch", Cell{type::word, 0, symbol::make(r.arch), uint32_t(-1)});
    Cell version;
    tuple::box_bytes(&version, r.version, 3);
    append_field(spec, "version", version);
    Cell build;
    cell::set_integer(&build, r.build);
    append_field(spec, "build", build);
    Cell* made = object::push_new(spec, nullptr, true);
    *stack::args = *made;
    return 0;
}

uint32_t read_clipboard(const Call&) {
    os::ClipboardData data = error::heap_guarded([] { return os::clipboard_read(); });
    Cell* out = stack::args;
    switch (data.kind) {
    case os::ClipboardData::Kind::failed: cell::set_logic(out, false); break;
    case os::ClipboardData::Kind::empty: cell::set_none(out); break;
    case os::ClipboardData::Kind::text:
        string::make_from_utf8(stack::push_slot(), data.text.data(), data.text.size());
        *stack::args = *stack::last();
        break;
    case os::ClipboardData::Kind::files: {
        Cell* files = block::push_new(int32_t(data.files.size()));
        for (const std::string& path : data.files) {
            push_kel_file(path);
            block::append_top();
        }
        *stack::args = *files;
        break;
    }
    case os::ClipboardData::Kind::encoded: image::load_binary(data.bytes.data(), data.bytes.size(), out); break;
    case os::ClipboardData::Kind::bitmap:
        if (data.bitmap) image::box_bitmap(out, data.bitmap, data.width, data.height);
        else cell::set_none(out);
        break;
    }
    return 0;
}

// A string, a block of files (or strings naming them), an image (one with
// no pixels only empties the clipboard) or none, which only empties it; any
// other value raises invalid-arg.
uint32_t write_clipboard(const Call&) {
    const Cell* value = stack::args;
    os::ClipboardData data;
    switch (cell::type_of(value)) {
    case type::none: break;
    case type::string:
        data.kind = os::ClipboardData::Kind::text;
        data.text = string::utf8_of(value);
        break;
    case type::block: {
        data.kind = os::ClipboardData::Kind::files;
        int32_t from = series::clamped_index(value), n = series::total_length(value);
        for (int32_t i = from; i < n; ++i) {
            Cell f = *block::ks_abs_at(value, i);
            if (!cell::is(&f, type::file) && !cell::is(&f, type::string)) error::fire(error::id::invalid_arg, &f);
            data.files.push_back(file::to_local_path(&f));
        }
        break;
    }
    case type::image:
        if (image::pixel_count(value) > 0) {
            data.kind = os::ClipboardData::Kind::bitmap;
            data.bitmap = image::bitmap_of(value);
            data.width = image::width_of(value), data.height = image::height_of(value);
        }
        break;
    default: error::fire(error::id::invalid_arg, value);
    }
    cell::set_logic(stack::args, error::heap_guarded([&] { return os::clipboard_write(data); }));
    return 0;
}

uint32_t write_stdout(const Call&) {
    Cell* data = stack::args;
    simpleio::write_dispatch(nullptr, data, nullptr, nullptr, false, false, false);
    cell::set_unset(stack::args);
    return 0;
}

}  // namespace

void push_kel_file(const std::string& path) {
    Cell* text = stack::push_slot();
    string::make_from_utf8(text, path.data(), path.size());
    Cell name = *context::find_or_add_global(symbol::make("to-kel-file"));
    Cell fn = *word::fetch(&name);
    if (cell::is(&fn, type::function)) {
        Cell arg = *text;
        if (call::with_values(fn, name, &arg, 1)) exits::raise_pending();
        *text = *stack::last();
        stack::top = text + 1;
        return;
    }
    std::u32string kel = file::kel_text(string::text_of(text));
    string::make(text, uint32_t(kel.size() + 1));
    string::append_text(text, kel);
    cell::set_type(text, type::file);
}

void make_os_routines() {
    define_routine("os-info", R"~(["Returns detailed operating system version information"])~", os_info);
    define_routine(
        "read-clipboard",
        R"~(["Return the contents of the system clipboard" return: [any-type!] "false on failure, none if empty, otherwise: string!, block! of files!, or an image!"])~",
        read_clipboard);
    define_routine(
        "write-clipboard",
        R"~(["Write content to the system clipboard" data [any-type!] "string!, block! of files!, an image! or none!" return: [logic!] "indicates success"])~",
        write_clipboard, type::logic);
    define_routine("write-stdout", R"~(["Write data to STDOUT" data [any-type!]])~", write_stdout);
}

}  // namespace kel::environment
