#include "environment/codecs.hpp"

#include "environment/routines.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/kelbin/kelbin.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::environment {
namespace {

// encode* data compact?: the value as a KELBIN binary!, in the compact
// layout when compact? is true, else in the fixed one.
uint32_t kelbin_encode(const Call&) {
    Cell* base = stack::args;
    Cell* out = stack::push_slot();
    cell::set_none(out);
    kelbin::codec_encode(base, base[1].payload1 != 0, out);
    stack::set_result(out);
    return 0;
}

// decode payload: the value (or block of values) a KELBIN blob holds.
uint32_t kelbin_decode(const Call&) {
    Cell* out = stack::push_slot();
    cell::set_none(out);
    kelbin::codec_decode(stack::args, out);
    stack::set_result(out);
    return 0;
}

}  // namespace

void make_codec_routines() {
    Cell system = *word::fetch(context::find_or_add_global(symbol::make("system")));
    Cell key{type::word, context::global, symbol::make("kelbin"), uint32_t(-1)};
    Cell* slot = field(system, "codecs");
    if (!slot || !cell::is(slot, type::block)) return;
    Cell codecs = *slot;
    Cell codec = *block::find_word(&codecs, &key, false);
    if (!cell::is(&codec, type::object)) return;
    set_field_routine(codec, "encode*", "[data [any-type!] compact? [logic!]]", kelbin_encode);
    set_field_routine(codec, "decode", "[payload [any-type!]]", kelbin_decode);
}

}  // namespace kel::environment
