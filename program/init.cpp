// Runtime initialisation: a fixed order of steps, each relying on what the
// earlier ones leave.
#include "program/init.hpp"
#include "runtime/interp.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/natives/parse.hpp"

#include "runtime/actions.hpp"
#include "runtime/alloc.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatype.hpp"
#include "runtime/error.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/char.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/file.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/handle.hpp"
#include "runtime/datatypes/hash.hpp"
#include "runtime/datatypes/image.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/issue.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/port.hpp"
#include "runtime/datatypes/path.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/typeset.hpp"
#include "runtime/datatypes/time.hpp"
#include "runtime/datatypes/triple.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/http.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/output.hpp"
#include "runtime/ownership.hpp"
#include "runtime/platform/image.hpp"
#include "runtime/platform/start.hpp"
#include "runtime/slots.hpp"
#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/random.hpp"
#include "runtime/root.hpp"
#include "runtime/symbol.hpp"
#include "runtime/value_slots.hpp"
#include "runtime/words.hpp"
#include "runtime/system.hpp"
#include "runtime/system_object.hpp"

namespace kel::runtime {
namespace {

// Types with no module yet: the name, and a row where every action is
// unsupported.
void register_unbuilt(uint8_t t, const char* name) {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({t, 0, name, row.handlers});
}
// The imaging factory comes up between the point types and image!; an
// image operation that needs a missing factory raises bad-media then.
void register_imaging() { image_wic::init(); }

// Every datatype's module, in registration order: parents before their
// children. Each module gives its type's name and parent.
constexpr void (*registrations[])() = {
    datatype::register_datatype, unset::register_type, none::register_type, logic::register_type,
    series::register_type, block::register_type, string::register_type, binary::register_type,
    integer::register_type, symbol::register_type, context::register_type, word::register_type,
    lit_word::register_type, set_word::register_type, get_word::register_type, refinement::register_type,
    char_::register_type, native::register_type, action_::register_type, op::register_type,
    path::register_type, lit_path::register_type, set_path::register_type, get_path::register_type,
    function::register_type, routine::register_type, paren::register_type, issue::register_type,
    url::register_type, file::register_type, object::register_type, bitset::register_type, triple::register_type,
    float_::register_type, typeset::register_type, error::register_type, vector::register_type,
    map::register_type, hash::register_type, pair::register_type, percent::register_type,
    tuple::register_type, time::register_type, tag::register_type, email::register_type,
    handle::register_type, date::register_type, port::register_type, money::register_type, ref::register_type,
    point2d::register_type, point3d::register_type, register_imaging, image::register_type,
};

void register_datatypes() {
    datatype::reset();
    for (auto register_fn : registrations) register_fn();
}

// The type names become words of the global context, each holding its
// datatype! value, as the boot environment finds them.
void init_type_names() {
    for (int t = 1; t <= datatype::highest; ++t)
        if (datatype::names[t].name) datatype::make_name_word(uint8_t(t));
}

}  // namespace

void init() {
    sys::record.root_recording = true;
    output::init_print_hooks();
    platform::init();
    random::init();
    init_values();
}

void init_values() {
    collector::reset_module_roots();
    alloc::init();
    slots::init();
    register_datatypes();
    url::http_request = http::request;
    actions::init();
    natives::init();
    alloc::make_first_frames();
    root::init();
    NodeId args = root::make_fixed_block(stack::argument_cells);
    NodeId frames = root::make_fixed_block(stack::frame_records * sizeof(stack::Frame) / sizeof(Cell) + 1);
    NodeId symbols = alloc::alloc_cells(4000);
    Cell symbols_holder{type::block, 0, symbols, 0};
    root::record(&symbols_holder);
    context::global = context::make(4000, false, false, 0, 0);
    Cell global_holder{type::context, context::global, 0, 0};
    root::record(&global_holder);
    case_folding::init();
    symbol::init(symbols, 4000);
    init_type_names();
    words::init();
    words::init_refinements();
    words::init_extra();
    system_object::init();
    stack::init(reinterpret_cast<Cell*>(alloc::buffer_of(args)->data() + alloc::buffer_of(args)->offset),
                reinterpret_cast<stack::Frame*>(alloc::buffer_of(frames)->data() + alloc::buffer_of(frames)->offset));
    value_slots::init();
    collector::init();
    lexer::init_tables();
    parse::init();
    ownership::init();
    object::class_counter = 0;
    error::init_catalog();
}

}  // namespace kel::runtime
