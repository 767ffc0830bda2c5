// The process-wide pseudo-random generator behind every `random` action: a
// twister over 624 words, with a secure twin that takes its words from the
// platform's cryptographic source.
//
// It is not the published MT19937: every right shift (seeding, twisting,
// tempering) propagates the sign of a 32-bit word. The last tempering step
// XORs a word with itself shifted right by 18, which clears the top bit, so
// every output is a 31-bit non-negative number; next_int's range mapping
// relies on that. Main thread only.
#pragma once
#include <cstdint>

namespace kel::random {

constexpr int state_words = 624;
constexpr uint32_t default_seed = 19650218;

// Seeds the generator with the default seed; runtime initialisation calls it once.
void init();

// Seeds the generator. The first 624 words after seeding are the tempered
// seed words themselves: seed 0 gives 0 first.
void init_genrand(uint32_t seed);

// The next word of the generator, below 2^31.
uint32_t next_word();

// Four bytes of the platform's cryptographic source read as a little-endian
// word, top bit cleared. A source that fails raises internal not-done.
uint32_t secure_word();

// A uniform integer: 1 .. n for n > 0, n .. -1 for n < 0, 0 for n = 0. The
// words come from secure_word when `secure`, else from next_word.
int32_t next_int(bool secure, int32_t n);

}  // namespace kel::random
