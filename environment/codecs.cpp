#include "environment/codecs.hpp"

#include "environment/routines.hpp"
#include "runtime/context.hpp"
#include "runtime/error.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/image.hpp"
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

// ---- the image codecs

// The image formats by the codes the image encoder takes.
enum class ImageFormat { bmp = 0, png = 1, gif = 2, jpeg = 3, tiff = 4 };

// encode img where: the image in the codec's format, into where (a new
// binary! when where is none).
template <ImageFormat F>
uint32_t image_encode(const Call&) {
    Cell* base = stack::args;
    Cell* out = cell::is(&base[1], type::none) ? stack::push_slot() : &base[1];
    image::encode(&base[0], out, int32_t(F));
    stack::set_result(out);
    return 0;
}

// decode data: the image! a binary! or a file holds; none for bytes of no
// known format.
template <ImageFormat F>
uint32_t image_decode(const Call&) {
    Cell* out = stack::push_slot();
    cell::set_none(out);
    image::load(stack::args, out);
    stack::set_result(out);
    return 0;
}

template <ImageFormat F>
void give_image_routines(Cell codecs, const char* key) {
    Cell word{type::word, context::global, symbol::make(key), uint32_t(-1)};
    Cell* found = block::find_word(&codecs, &word, false);
    if (!found || !cell::is(found, type::object)) return;
    Cell codec = *found;
    set_field_routine(codec, "encode", "[img [image!] where [any-type!]]", image_encode<F>);
    set_field_routine(codec, "decode", "[data [any-type!]]", image_decode<F>);
}

}  // namespace

void make_codec_routines() {
    Cell system = *word::fetch(context::find_or_add_global(symbol::make("system")));
    Cell key{type::word, context::global, symbol::make("kelbin"), uint32_t(-1)};
    Cell* slot = field(system, "codecs");
    if (!slot || !cell::is(slot, type::block)) return;
    Cell codecs = *slot;
    give_image_routines<ImageFormat::png>(codecs, "png");
    give_image_routines<ImageFormat::jpeg>(codecs, "jpeg");
    give_image_routines<ImageFormat::bmp>(codecs, "bmp");
    give_image_routines<ImageFormat::gif>(codecs, "gif");
    give_image_routines<ImageFormat::tiff>(codecs, "tiff");
    Cell codec = *block::find_word(&codecs, &key, false);
    if (!cell::is(&codec, type::object)) return;
    set_field_routine(codec, "encode*", "[data [any-type!] compact? [logic!]]", kelbin_encode);
    set_field_routine(codec, "decode", "[payload [any-type!]]", kelbin_decode);
}

}  // namespace kel::environment
