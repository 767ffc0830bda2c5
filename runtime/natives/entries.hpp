// The entry of every native, by the module that defines it. Only the natives
// table (table.cpp) and the modules themselves use these names: everything
// else reaches a native through its index.
#pragma once
#include <cstdint>

#include "runtime/actions.hpp"

namespace kel::natives {

// control.cpp: conditionals, loops, exits and their receivers
uint32_t if_(const Call& call);
uint32_t unless(const Call& call);
uint32_t either(const Call& call);
uint32_t any(const Call& call);
uint32_t all(const Call& call);
uint32_t while_(const Call& call);
uint32_t until(const Call& call);
uint32_t loop(const Call& call);
uint32_t repeat(const Call& call);
uint32_t forever(const Call& call);
uint32_t switch_(const Call& call);
uint32_t case_(const Call& call);
uint32_t try_(const Call& call);
uint32_t break_(const Call& call);
uint32_t continue_(const Call& call);
uint32_t exit(const Call& call);
uint32_t return_(const Call& call);
uint32_t throw_(const Call& call);
uint32_t catch_(const Call& call);

// loops.cpp: loops over series
uint32_t foreach(const Call& call);
uint32_t forall(const Call& call);
uint32_t remove_each(const Call& call);

// function_makers.cpp
uint32_t func(const Call& call);
uint32_t function_(const Call& call);
uint32_t does(const Call& call);
uint32_t has(const Call& call);

// evaluation.cpp
uint32_t do_(const Call& call);
uint32_t reduce(const Call& call);
uint32_t compose(const Call& call);
uint32_t apply(const Call& call);

// words.cpp: words and contexts, comparisons, type?, stats
uint32_t get(const Call& call);
uint32_t set(const Call& call);
uint32_t equal_q(const Call& call);
uint32_t not_equal_q(const Call& call);
uint32_t strict_equal_q(const Call& call);
uint32_t lesser_q(const Call& call);
uint32_t greater_q(const Call& call);
uint32_t lesser_or_equal_q(const Call& call);
uint32_t greater_or_equal_q(const Call& call);
uint32_t same_q(const Call& call);
uint32_t not_(const Call& call);
uint32_t type_q(const Call& call);
uint32_t stats(const Call& call);
uint32_t bind(const Call& call);
uint32_t in(const Call& call);
uint32_t construct(const Call& call);
uint32_t value_q(const Call& call);
uint32_t extend(const Call& call);
uint32_t unset(const Call& call);
uint32_t new_line(const Call& call);
uint32_t new_line_q(const Call& call);
uint32_t context_q(const Call& call);

// system.cpp: output, transcode, the environment, the clock, the collector
uint32_t print(const Call& call);
uint32_t prin(const Call& call);
uint32_t wait(const Call& call);
uint32_t set_env(const Call& call);
uint32_t get_env(const Call& call);
uint32_t list_env(const Call& call);
uint32_t now(const Call& call);
uint32_t size_q(const Call& call);
uint32_t browse(const Call& call);
uint32_t recycle(const Call& call);
uint32_t transcode(const Call& call);

// files.cpp
uint32_t to_local_file(const Call& call);

// sets.cpp: sets, URL escapes, case, base-N text, as
uint32_t union_(const Call& call);
uint32_t intersect(const Call& call);
uint32_t unique(const Call& call);
uint32_t difference(const Call& call);
uint32_t exclude(const Call& call);
uint32_t complement_q(const Call& call);
uint32_t dehex(const Call& call);
uint32_t enhex(const Call& call);
uint32_t uppercase(const Call& call);
uint32_t lowercase(const Call& call);
uint32_t debase(const Call& call);
uint32_t enbase(const Call& call);
uint32_t as(const Call& call);

// numbers.cpp
uint32_t negative_q(const Call& call);
uint32_t positive_q(const Call& call);
uint32_t max(const Call& call);
uint32_t min(const Call& call);
uint32_t shift(const Call& call);
uint32_t to_hex(const Call& call);
uint32_t sine(const Call& call);
uint32_t cosine(const Call& call);
uint32_t tangent(const Call& call);
uint32_t arcsine(const Call& call);
uint32_t arccosine(const Call& call);
uint32_t arctangent(const Call& call);
uint32_t arctangent2(const Call& call);
uint32_t nan_q(const Call& call);
uint32_t log_2(const Call& call);
uint32_t log_10(const Call& call);
uint32_t log_e(const Call& call);
uint32_t exp(const Call& call);
uint32_t square_root(const Call& call);
uint32_t as_pair(const Call& call);
uint32_t as_point2d(const Call& call);
uint32_t as_point3d(const Call& call);
uint32_t as_money(const Call& call);
uint32_t sign_q(const Call& call);
uint32_t zero_q(const Call& call);

// parse.cpp, checksum.cpp, compress.cpp, call.cpp
uint32_t parse_native(const Call& call);
uint32_t checksum(const Call& call);
uint32_t compress(const Call& call);
uint32_t decompress(const Call& call);
uint32_t call_native(const Call& call);

}  // namespace kel::natives
