// The generator's state is one static record, valid from the start of the
// process (seeded with the default seed at compile time, so a draw before
// runtime initialisation still follows the seeded sequence); init and
// init_genrand reseed it in place.
//
// Words are held as unsigned bit patterns so that products wrap modulo 2^32
// without undefined behaviour; `sar` is the sign-propagating right shift of
// the same bits read as a signed word, the shift this generator uses
// everywhere the published twister shifts logically.
#include "runtime/random.hpp"

#include <climits>

#include "runtime/error.hpp"
#include "runtime/platform/crypto.hpp"

namespace kel::random {
namespace {

constexpr int partner_offset = 397;
constexpr uint32_t seed_multiplier = 1812433253;  // 0x6C078965
constexpr uint32_t twist_matrix = 0x9908B0DF;
constexpr uint32_t temper_b = 0x9D2C5680;
constexpr uint32_t temper_c = 0xEFC60000;

struct State {
    uint32_t word[state_words];
    int index;  // of the next word to temper; state_words: twist first
};

constexpr uint32_t sar(uint32_t x, int k) { return uint32_t(int32_t(x) >> k); }

constexpr void seed(State& s, uint32_t value) {
    s.word[0] = value;
    for (int i = 1; i < state_words; ++i) {
        uint32_t w = s.word[i - 1];
        s.word[i] = seed_multiplier * (w ^ sar(w, 30)) + uint32_t(i);
    }
    // Not state_words: the seeded words are used before the first twist.
    s.index = 0;
}

constexpr State seeded(uint32_t value) {
    State s{};
    seed(s, value);
    return s;
}

constinit State state = seeded(default_seed);

void twist() {
    uint32_t* w = state.word;
    for (int i = 0; i < state_words; ++i) {
        // At i = 623 the next word is word 0, already twisted in this pass.
        uint32_t next = w[(i + 1) % state_words];
        uint32_t y = (w[i] & 0x80000000u) | (next & 0x7FFFFFFFu);
        uint32_t v = w[(i + partner_offset) % state_words] ^ sar(y, 1);
        if (next & 1) v ^= twist_matrix;
        w[i] = v;
    }
    state.index = 0;
}

}  // namespace

void init() { seed(state, default_seed); }

void init_genrand(uint32_t value) { seed(state, value); }

uint32_t next_word() {
    if (state.index >= state_words) twist();
    uint32_t y = state.word[state.index++];
    y ^= sar(y, 11);
    y ^= (y << 7) & temper_b;
    y ^= (y << 15) & temper_c;
    y ^= sar(y, 18);
    return y;
}

uint32_t secure_word() {
    uint8_t b[4];
    // Made-up words from a failed source would pass for secure ones.
    if (!os::secure_random(b, sizeof b)) error::fire_not_done();
    uint32_t w = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return w & 0x7FFFFFFFu;
}

int32_t next_int(bool secure, int32_t n) {
    auto draw = [secure] { return secure ? secure_word() : next_word(); };
    if (n == 0) return 0;
    // -n would overflow; a 31-bit word w maps exactly onto INT_MIN .. -1.
    if (n == INT32_MIN) return -1 - int32_t(draw());
    if (n < 0) return -next_int(secure, -n);
    uint32_t range = uint32_t(n);
    // Words at or above the last whole multiple of n would favour the low results.
    uint32_t limit = (0x7FFFFFFFu / range) * range;
    uint32_t w;
    do w = draw();
    while (w >= limit);
    return int32_t(w % range) + 1;
}

}  // namespace kel::random
