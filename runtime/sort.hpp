// Sorting arrays of fixed-size records in place: the blocks (records of n
// cells), strings (records of code units) and vectors that `sort` orders.
// Neither sort knows what a record holds; every ordering question goes to a
// comparison callback with two opaque words (a compare op or a function
// value, and a flags word).
//
// The callback may be a user's Kel function: it may answer inconsistently
// (at random, or not transitively) and it may raise an error or throw, which
// arrives here as a C++ exception. Whatever it does, the array is left a
// permutation of what it held (never a record lost or doubled), no cursor
// leaves the array, and nothing leaks. The caller keeps the array where it
// is for the whole sort (a collection that moved it, or a change to its
// series from inside the callback, is the caller's to prevent).
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::sort {

// Negative, zero or positive as record a sorts before, with, or after record b.
using Compare = int (*)(const void* a, const void* b, intptr_t ctx1, intptr_t ctx2);

// Everything a comparison or a record move needs.
struct Order {
    size_t width;   // bytes per record
    intptr_t ctx1;
    intptr_t ctx2;
    Compare compare;
    bool bytewise;  // width is not a multiple of 4: records move byte by byte
};

Order make_order(size_t w, intptr_t ctx1, intptr_t ctx2, Compare compare);

// The default, unstable sort: finds how much of the array is already in
// order (either way), then quicksorts the rest. An array already sorted
// either way costs n - 1 comparisons; a descending one is reversed in place.
void sort_records(void* base, size_t n, size_t w, intptr_t ctx1, intptr_t ctx2, Compare compare);

// The quicksort core. sorted_hint h tells that |h| records are already in
// order at the front (h > 0) or at the back (h < 0) of the array; |h| < 3
// means no such sample. |h| must not exceed n.
void quicksort(void* base, ptrdiff_t sorted_hint, size_t n, size_t w, intptr_t ctx1, intptr_t ctx2,
               Compare compare);

// The stable sort (`sort/stable`): a natural merge sort. Takes n / 2 records
// of scratch from the tracked heap and releases it however the sort ends.
// Raises script too-long, before touching the array, when the scratch would
// not fit in 32 bits.
void stable_sort(void* base, size_t n, size_t w, intptr_t ctx1, intptr_t ctx2, Compare compare);

// The end of the monotone run that starts at `start`: non-descending when its
// first pair is in order, else strictly descending, and then reversed in place
// (so equal records never trade places).
char* find_run(char* start, char* end, size_t w, intptr_t ctx1, intptr_t ctx2, Compare compare);

// Stable merge of the adjacent sorted runs [left, mid) and [mid, right);
// scratch holds at least the shorter run.
void merge_runs(char* left, char* mid, char* right, char* scratch, const Order& order);

void swap_records(void* a, void* b, size_t w, bool bytewise);

}  // namespace kel::sort
