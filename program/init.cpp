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
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/output.hpp"
#include "runtime/ownership.hpp"
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

namespace kel::runtime {
namespace {

struct TypeInit {
    uint8_t type;
    uint8_t parent;
    const char* name;
    void (*register_fn)();  // the datatype's module; null: not built yet
};

// Every datatype, in registration order: parents before their children.
// A type's module fixes its parent when it is built.
constexpr TypeInit types[] = {
    {type::datatype, 0, "datatype!", datatype::register_datatype},
    {type::unset, 0, "unset!", unset::register_type},
    {type::none, 0, "none!", none::register_type},
    {type::logic, 0, "logic!", logic::register_type},
    {type::series, 0, "series!", series::register_type},
    {type::block, type::series, "block!", block::register_type},
    {type::string, type::series, "string!", string::register_type},
    {type::binary, type::string, "binary!", binary::register_type},
    {type::integer, 0, "integer!", integer::register_type},
    {type::symbol, 0, "symbol!", symbol::register_type},
    {type::context, 0, "context!", context::register_type},
    {type::word, 0, "word!", word::register_type},
    {type::lit_word, 0, "lit-word!", lit_word::register_type},
    {type::set_word, 0, "set-word!", set_word::register_type},
    {type::get_word, 0, "get-word!", get_word::register_type},
    {type::refinement, 0, "refinement!", refinement::register_type},
    {type::char_, type::integer, "char!", char_::register_type},
    {type::native, 0, "native!", native::register_type},
    {type::action, 0, "action!", action_::register_type},
    {type::op, 0, "op!", op::register_type},
    {type::path, 0, "path!", path::register_type},
    {type::lit_path, 0, "lit-path!", lit_path::register_type},
    {type::set_path, 0, "set-path!", set_path::register_type},
    {type::get_path, 0, "get-path!", get_path::register_type},
    {type::function, 0, "function!", function::register_type},
    {type::routine, 0, "routine!", routine::register_type},
    {type::paren, 0, "paren!", paren::register_type},
    {type::issue, type::word, "issue!", issue::register_type},
    {type::url, type::string, "url!", url::register_type},
    {type::file, type::url, "file!", file::register_type},
    {type::object, 0, "object!", object::register_type},
    {type::bitset, 0, "bitset!", bitset::register_type},
    {type::triple, 0, "triple!", nullptr},
    {type::float_, 0, "float!", float_::register_type},
    {type::typeset, 0, "typeset!", typeset::register_type},
    {type::error, type::object, "error!", error::register_type},
    {type::vector, type::string, "vector!", vector::register_type},
    {type::map, 0, "map!", map::register_type},
    {type::hash, type::block, "hash!", hash::register_type},
    {type::pair, 0, "pair!", pair::register_type},
    {type::percent, type::float_, "percent!", percent::register_type},
    {type::tuple, 0, "tuple!", tuple::register_type},
    {type::time, type::float_, "time!", time::register_type},
    {type::tag, type::string, "tag!", tag::register_type},
    {type::email, type::string, "email!", email::register_type},
    {type::handle, type::integer, "handle!", handle::register_type},
    {type::date, 0, "date!", date::register_type},
    {type::port, type::object, "port!", port::register_type},
    {type::money, 0, "money!", money::register_type},
    {type::ref, type::string, "ref!", ref::register_type},
    {type::point2d, 0, "point2D!", point2d::register_type},
    {type::point3d, 0, "point3D!", point3d::register_type},
    {type::image, 0, "image!", nullptr},
};

void register_datatypes() {
    for (const TypeInit& t : types) {
        if (t.register_fn) {
            t.register_fn();
        } else {
            datatype::Row row(datatype::unsupported);
            datatype::register_type({t.type, t.parent, t.name, row.handlers});
        }
    }
}

// The type names become words of the global context, each holding its
// datatype! value, as the boot environment finds them.
void init_type_names() {
    for (int t = 1; t <= datatype::highest; ++t)
        if (const char* name = datatype::names[t].name) {
            datatype::names[t].word = context::find_or_add_global(symbol::make(name));
            Cell value;
            cell::set_datatype(&value, uint8_t(t));
            Cell word = *datatype::names[t].word;
            word::set(&word, &value);
        }
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
