// parse: the dialect that matches a block of rules against a series (the
// values of a block, the characters of a string, the bytes of a binary).
//
// The engine is one loop over explicit state: rule blocks, keywords and
// repetitions push frames on a rule stack (a block of three-cell frames a
// trace callback sees) instead of recursing, so rule depth is bounded by the
// stack limit alone. A second block, the input stack, holds the series being
// matched (`into` adds nested ones). Both live from start-up on; every run
// works above the heads it found and leaves them as it found them, also when
// an error or another exit leaves the run. A paren or a callback may run
// parse again: that run starts above the outer run's frames.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::parse {

// Makes the two stacks; once, at start-up.
void init();

// Matches the input (any block, any string or binary, from its index)
// against the rules. mode is the compare_op code values are matched by:
// equal folds case, strict_equal does not; limit is an absolute
// index of the input (0: none); callback a trace function or null. Pushes
// the result: true or false, or the block a top-level collect built.
// Answers a pending exit code of a paren or the callback (0: none).
uint32_t process(const Cell* input, const Cell* rules, int32_t mode, int64_t limit, const Cell* callback);

}  // namespace kel::parse
