// The KELBIN decoder on arbitrary bytes, behind a valid header so that the
// fuzzer reaches the records: any read outside the blob or a buffer is a
// sanitizer fault, and no input may overflow the native stack. What decodes
// must also survive a round trip: encoded again and decoded, it encodes to
// the same bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/cell.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/error.hpp"
#include "runtime/init.hpp"
#include "runtime/natives/kelbin.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"

using namespace kel;

namespace {

void start() {
    static bool started = false;
    if (started) return;
    started = true;
    sys::record.root_recording = true;
    runtime::init_values();
    sys::record.root_recording = false;
    sys::record.collector_enabled = true;
}

bool decodes(const std::vector<uint8_t>& blob, Cell* out) {
    return throws::protect(throws::error, [&] {
        block::make_at(out, 1);
        kelbin::decode(blob.data(), out, true, blob.size(), nullptr);
    }) == 0;
}

bool encodes(const Cell* value, std::vector<uint8_t>* bytes) {
    collector::RootCell bin;
    if (throws::protect(throws::error, [&] { kelbin::encode_b(value, &bin.cell); })) return false;
    SeriesBuffer* b = alloc::buffer_of(bin.cell.payload2);
    bytes->assign(b->data() + b->offset, b->data() + b->tail);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    start();
    // As given, and behind a compact header with the input as its records.
    std::vector<uint8_t> raw(data, data + size);
    std::vector<uint8_t> wrapped = {'K', 'E', 'L', 'B', 'I', 'N', 2, 1, 1};
    kelbin::write_varint(wrapped, uint32_t(size));
    wrapped.insert(wrapped.end(), data, data + size);

    collector::RootCell first, second;
    decodes(raw, &first.cell);
    if (!decodes(wrapped, &first.cell)) return 0;
    std::vector<uint8_t> once, twice;
    if (!encodes(&first.cell, &once)) return 0;
    // The encoder's output must always be a well-formed blob. (A maker may
    // still refuse a value, e.g. a hash! holding values it cannot index.)
    if (!decodes(once, &second.cell)) {
        if (std::strcmp(error::pending.id, "rb-invalid-record") == 0) __builtin_trap();
        return 0;
    }
    Cell again = *block::ks_abs_at(&second.cell, 0);
    if (!encodes(&again, &twice) || once != twice) __builtin_trap();
    return 0;
}
