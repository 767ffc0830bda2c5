// The KELBIN decoder on arbitrary bytes, as given and behind a valid header
// of each layout so that the fuzzer reaches the records: any read outside
// the blob or a buffer is a sanitizer fault, and no input may overflow the
// native stack. What decodes must also survive a round trip in both
// layouts: encoded and decoded, it encodes to the same bytes again.
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/cell.hpp"
#include "tests/fuzz/start.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/error.hpp"
#include "runtime/kelbin/kelbin.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"

using namespace kel;

namespace {

void start() { fuzz::start_runtime(); }

bool decodes(const std::vector<uint8_t>& blob, Cell* out) {
    return throws::protect(throws::error, [&] {
        block::make_at(out, 1);
        kelbin::decode(blob.data(), out, true, blob.size(), nullptr);
    }) == 0;
}

bool encodes(const Cell* value, bool fixed, std::vector<uint8_t>* bytes) {
    collector::RootCell bin;
    auto encode = [&] { fixed ? kelbin::encode(value, &bin.cell) : kelbin::encode_b(value, &bin.cell); };
    if (throws::protect(throws::error, encode)) return false;
    SeriesBuffer* b = alloc::buffer_of(bin.cell.payload2);
    bytes->assign(b->data() + b->offset, b->data() + b->tail);
    return true;
}

// The value encoded in the layout must decode, and encode again the same.
void round_trip(const Cell* value, bool fixed) {
    std::vector<uint8_t> once, twice;
    if (!encodes(value, fixed, &once)) return;
    // The encoder's output must always be a well-formed blob. (A maker may
    // still refuse a value, e.g. a hash! holding values it cannot index.)
    collector::RootCell again;
    if (!decodes(once, &again.cell)) {
        if (std::strcmp(error::pending.id, "rb-invalid-record") == 0) __builtin_trap();
        return;
    }
    Cell v = *block::ks_abs_at(&again.cell, 0);
    if (!encodes(&v, fixed, &twice) || once != twice) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    start();
    std::vector<uint8_t> raw(data, data + size);
    collector::RootCell first;
    decodes(raw, &first.cell);
    // Behind a compact header and behind a fixed one, the input as the records.
    std::vector<uint8_t> compact = {'K', 'E', 'L', 'B', 'I', 'N', 2, kelbin::flag_compact, 1};
    kelbin::write_varint(compact, uint32_t(size));
    std::vector<uint8_t> fixed = {'K', 'E', 'L', 'B', 'I', 'N', 2, 0};
    kelbin::append_int32(fixed, 1);
    kelbin::append_int32(fixed, uint32_t(size));
    for (std::vector<uint8_t>* blob : {&compact, &fixed}) {
        blob->insert(blob->end(), data, data + size);
        if (!decodes(*blob, &first.cell)) continue;
        round_trip(&first.cell, false);
        round_trip(&first.cell, true);
    }
    return 0;
}
