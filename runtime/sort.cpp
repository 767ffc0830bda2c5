// The two sorts. Records move only by swaps, except inside a merge, so an
// exception from the comparison can leave the array unsorted but never short
// of a record.
//
// Default sort. A probe measures the ordered prefix; a nearly sorted array
// grows that prefix by joining later ordered stretches to it. What is left
// goes to a quicksort that takes its pivots from a sorted sample: the prefix
// at first, then ranges it sorts itself (a range of 16 |h| - 1 records
// gathered across the array around a sample of |h|, so each sorted range
// samples the next, larger one). Partitions are three-way, with the records
// equal to the pivot gathered into the middle. Every scan is bounded by the
// other cursor, never by a sentinel record: a comparison that answers
// inconsistently cannot walk a cursor out of its range. Each partition spends
// one unit of a depth budget of 2 log2 n; an input that exhausts it (bad
// pivots, chosen by an adversary or by chance) is finished by heapsort, so
// no input costs more than O(n log n) comparisons or that much stack.
//
// Stable sort. Natural runs (descending ones strictly, then reversed), each
// at least 24 records long, are merged by the powersort policy: the boundary
// between two runs gets a power from their midpoints, and a run on the stack
// merges when the next boundary has a lower power, which keeps the merge tree
// close to balanced for any run lengths. A merge copies its shorter run out
// to scratch; while it runs, the records not yet merged back from scratch
// match the gap in the array exactly, so on any exit, the exceptional ones
// included, they are copied into that gap.
#include "runtime/sort.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "runtime/error.hpp"
#include "runtime/mem.hpp"

namespace kel::sort {
namespace {

constexpr size_t insertion_limit = 7;    // quicksort leaves this many records or fewer to insertion
constexpr size_t min_run = 24;           // stable runs are extended to this length
constexpr size_t small_range = 63;       // median-of-three range of a large array without a sample
constexpr size_t large_array = 511;
constexpr size_t sample_step = 97;       // records between sampled pairs of the presortedness score
constexpr size_t probe_step = 10;        // records between probes for ordered stretches
constexpr size_t min_stretch = 4;

// The array seen through record indexes.
struct Array {
    char* base;
    const Order* order;

    char* at(size_t i) const { return base + i * order->width; }
    int cmp(size_t i, size_t j) const { return order->compare(at(i), at(j), order->ctx1, order->ctx2); }
    void swap(size_t i, size_t j) const { swap_records(at(i), at(j), order->width, order->bytewise); }
    Array from(size_t i) const { return {at(i), order}; }
};

void reverse(const Array& a, size_t from, size_t to) {
    while (to - from > 1) a.swap(from++, --to);
}

// Moves m records from src to dst; the records displaced from dst fill the
// places src leaves. The blocks may overlap.
void move_block(const Array& a, size_t dst, size_t src, size_t m) {
    if (dst < src)
        for (size_t t = 0; t < m; ++t) a.swap(dst + t, src + t);
    else if (dst > src)
        for (size_t t = m; t-- > 0;) a.swap(dst + t, src + t);
}

// Stable: a record moves back only past a predecessor that compares greater.
void insertion_sort(const Array& a, size_t n, size_t sorted = 1) {
    for (size_t i = std::max<size_t>(sorted, 1); i < n; ++i)
        for (size_t j = i; j > 0 && a.cmp(j - 1, j) > 0; --j) a.swap(j - 1, j);
}

void sift_down(const Array& a, size_t root, size_t n) {
    for (;;) {
        size_t child = 2 * root + 1;
        if (child >= n) return;
        if (child + 1 < n && a.cmp(child, child + 1) < 0) ++child;
        if (a.cmp(root, child) >= 0) return;
        a.swap(root, child);
        root = child;
    }
}

void heapsort(const Array& a, size_t n) {
    for (size_t i = n / 2; i-- > 0;) sift_down(a, i, n);
    for (size_t end = n; end-- > 1;) {
        a.swap(0, end);
        sift_down(a, 0, end);
    }
}

int depth_budget(size_t n) { return 2 * int(std::bit_width(n)); }

void quick(Array a, ptrdiff_t hint, size_t n, int budget) {
    while (n > insertion_limit) {
        size_t s = hint < 0 ? size_t(-hint) : size_t(hint);
        if (s >= n) return;  // the sample is the whole array
        if (budget-- == 0) {
            heapsort(a, n);
            return;
        }

        // Set up the range [0, r): the pivot at p, records known not larger
        // in [0, p), records known not smaller in [g, r), the rest to scan.
        size_t r, p, g;
        if (s < 3) {
            r = n > large_array ? small_range : n;
            a.swap(r / 2, 1);
            if (a.cmp(1, 0) < 0) a.swap(0, 1);
            if (a.cmp(r - 1, 1) < 0) {
                a.swap(1, r - 1);
                if (a.cmp(1, 0) < 0) a.swap(0, 1);
            }
            p = 1;
            g = r - 1;
        } else {
            r = s <= n / 256 ? 16 * s - 1 : n;
            size_t lower = (s + 1) / 2, upper = s / 2;
            if (hint < 0) move_block(a, 0, n - s, r < n ? s : lower);
            if (r < n) {
                // Every source lies beyond the range: s * stride >= 16 s > r - 1.
                size_t stride = n / r;
                for (size_t t = s; t < r; ++t) a.swap(t, t * stride);
            }
            if (hint > 0 || r < n) move_block(a, r - upper, lower, upper);
            p = (s - 1) / 2;
            g = r - upper;
        }

        // Three-way partition of [p + 1, g): [p + 1, e) equal to the pivot,
        // [e, i) smaller, [i, j) not yet seen, [j, g) larger.
        size_t e = p + 1, i = p + 1, j = g;
        for (;;) {
            while (i < j) {
                int c = a.cmp(i, p);
                if (c > 0) break;
                if (c == 0) a.swap(i, e++);
                ++i;
            }
            if (i == j) break;
            // Record i is larger; look from the right for one that is not.
            int c = 1;
            while (j - 1 > i) {
                c = a.cmp(j - 1, p);
                if (c <= 0) break;
                --j;
            }
            if (j - 1 == i) {
                j = i;
                break;
            }
            a.swap(i, --j);
            if (c == 0) a.swap(i, e++);
            ++i;
        }
        // Swap the pivot and its equals with the end of the smaller block,
        // moving as many records as the shorter of the two holds.
        size_t smaller = i - e, equal = e - p;
        size_t k = std::min(smaller, equal);
        for (size_t t = 0; t < k; ++t) a.swap(p + t, i - k + t);
        size_t left = p + smaller;

        quick(a.from(i), -ptrdiff_t(r - g), r - i, budget);
        if (r < n) {
            // The range was a sample of the array: finish it, and let it
            // sample the array next.
            quick(a, ptrdiff_t(p), left, budget);
            hint = ptrdiff_t(r);
        } else {
            hint = ptrdiff_t(p);
            n = left;
        }
    }
    insertion_sort(a, n);
}

// Joins to the ordered prefix [0, prefix) the ordered stretches that follow
// it in a nearly sorted array, moving them next to it; answers its new length.
size_t join_stretches(const Array& a, size_t n, size_t prefix, int direction) {
    auto in_order = [&](size_t x, size_t y) {
        int c = a.cmp(x, y);
        return direction > 0 ? c <= 0 : c >= 0;
    };
    for (size_t q = prefix - 1;;) {
        q += probe_step;
        if (q >= n) break;
        size_t hi = q, lo = q;
        while (hi + 1 < n && in_order(hi, hi + 1)) ++hi;
        while (lo > prefix && in_order(lo - 1, lo)) --lo;
        size_t m = hi + 1 - lo;
        if (m >= min_stretch) {
            // The prefix's last records and the stretch's first may overlap
            // in value: drop k from each, where the k-th pair from the seam
            // is the first in order. At least that pair is always tested, or
            // a joined stretch could break the prefix's order.
            size_t tests = std::min(m / 2, std::max<size_t>(prefix / 4, 1));
            size_t k = 0;
            while (k < tests && !in_order(prefix - 1 - k, lo + k)) ++k;
            if (k < tests) {
                move_block(a, prefix - k, lo + k, m - k);
                prefix += m - 2 * k;
            }
        }
        q = hi;
    }
    return prefix;
}

size_t run_end(const Array& a, size_t start, size_t end) {
    if (end - start < 2) return end;
    size_t i = start + 1;
    if (a.cmp(start, i) <= 0) {
        while (i + 1 < end && a.cmp(i, i + 1) <= 0) ++i;
        return i + 1;
    }
    while (i + 1 < end && a.cmp(i, i + 1) > 0) ++i;
    reverse(a, start, i + 1);
    return i + 1;
}

// The power of the boundary between runs [s1, s2) and [s2, e2): one more than
// the number of leading binary digits that the runs' midpoints, as fractions
// of the array, share.
int boundary_power(size_t s1, size_t s2, size_t e2, size_t n) {
    size_t a = s1 + s2, b = s2 + e2;  // doubled midpoints, below 2n
    int levels = 0;
    while ((a < n) == (b < n)) {
        ++levels;
        if (a >= n) {
            a -= n;
            b -= n;
        }
        a *= 2;
        b *= 2;
    }
    return levels + 1;
}

struct Scratch {
    void* block;
    explicit Scratch(size_t bytes) : block(mem::allocate(bytes)) {}
    ~Scratch() { mem::release(block); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

}  // namespace

Order make_order(size_t w, intptr_t ctx1, intptr_t ctx2, Compare compare) {
    return {w, ctx1, ctx2, compare, w % 4 != 0};
}

void swap_records(void* a, void* b, size_t w, bool bytewise) {
    auto* x = static_cast<unsigned char*>(a);
    auto* y = static_cast<unsigned char*>(b);
    if (!bytewise && w % 4 == 0) {
        for (size_t k = 0; k < w; k += 4) {
            uint32_t u, v;
            std::memcpy(&u, x + k, 4);
            std::memcpy(&v, y + k, 4);
            std::memcpy(x + k, &v, 4);
            std::memcpy(y + k, &u, 4);
        }
    } else {
        for (size_t k = 0; k < w; ++k) std::swap(x[k], y[k]);
    }
}

void sort_records(void* base, size_t n, size_t w, intptr_t ctx1, intptr_t ctx2, Compare compare) {
    if (n < 2 || w == 0) return;
    Order order = make_order(w, ctx1, ctx2, compare);
    Array a{static_cast<char*>(base), &order};

    // The direction is set by the first unequal pair; the prefix ends at the
    // first pair against it. Equal pairs never end it.
    int direction = 0;
    size_t prefix = 1;
    for (; prefix < n; ++prefix) {
        int c = a.cmp(prefix - 1, prefix);
        if (c == 0) continue;
        int d = c < 0 ? 1 : -1;
        if (direction == 0)
            direction = d;
        else if (d != direction)
            break;
    }

    // A shorter prefix means a direction was set.
    if (prefix < n) {
        ptrdiff_t score = ptrdiff_t(prefix) * direction;
        for (size_t j = prefix; j + 1 < n; j += sample_step) {
            int c = a.cmp(j, j + 1);
            score += c < 0 ? 1 : c > 0 ? -1 : 0;
        }
        if (size_t(score < 0 ? -score : score) > n / 512) {
            if ((score > 0 ? 1 : -1) != direction) {
                direction = -direction;
                prefix = 1;
            }
            prefix = join_stretches(a, n, prefix, direction);
        }
    }

    if (direction < 0) reverse(a, 0, prefix);
    if (prefix < n) quick(a, ptrdiff_t(prefix), n, depth_budget(n));
}

void quicksort(void* base, ptrdiff_t sorted_hint, size_t n, size_t w, intptr_t ctx1, intptr_t ctx2,
               Compare compare) {
    if (n < 2 || w == 0) return;
    Order order = make_order(w, ctx1, ctx2, compare);
    quick(Array{static_cast<char*>(base), &order}, sorted_hint, n, depth_budget(n));
}

char* find_run(char* start, char* end, size_t w, intptr_t ctx1, intptr_t ctx2, Compare compare) {
    if (w == 0) return end;
    Order order = make_order(w, ctx1, ctx2, compare);
    Array a{start, &order};
    return a.at(run_end(a, 0, size_t(end - start) / w));
}

void merge_runs(char* left, char* mid, char* right, char* scratch, const Order& order) {
    if (left == mid || mid == right) return;
    const size_t w = order.width;
    auto cmp = [&](const char* x, const char* y) { return order.compare(x, y, order.ctx1, order.ctx2); };

    if (right - mid < mid - left) {
        // From the back: the gap [l, out) always holds as many bytes as
        // scratch still has in [scratch, s).
        size_t bytes = size_t(right - mid);
        std::memcpy(scratch, mid, bytes);
        char *out = right, *l = mid, *s = scratch + bytes;
        try {
            while (s > scratch && l > left) {
                // Ties go to the right run, so equal records keep their order.
                if (cmp(l - w, s - w) > 0) {
                    l -= w;
                    out -= w;
                    std::memcpy(out, l, w);
                } else {
                    s -= w;
                    out -= w;
                    std::memcpy(out, s, w);
                }
            }
        } catch (...) {
            std::memcpy(l, scratch, size_t(s - scratch));
            throw;
        }
        std::memcpy(l, scratch, size_t(s - scratch));
    } else {
        // From the front: the gap [out, r) always holds as many bytes as
        // scratch still has in [s, end).
        size_t bytes = size_t(mid - left);
        std::memcpy(scratch, left, bytes);
        char *out = left, *r = mid, *s = scratch, *end = scratch + bytes;
        try {
            while (s < end && r < right) {
                if (cmp(s, r) <= 0) {
                    std::memcpy(out, s, w);
                    s += w;
                } else {
                    std::memcpy(out, r, w);
                    r += w;
                }
                out += w;
            }
        } catch (...) {
            std::memcpy(out, s, size_t(end - s));
            throw;
        }
        std::memcpy(out, s, size_t(end - s));
    }
}

void stable_sort(void* base, size_t n, size_t w, intptr_t ctx1, intptr_t ctx2, Compare compare) {
    if (n < 2 || w == 0) return;
    size_t half = n / 2;
    if (half > UINT32_MAX / w) error::fire(error::id::too_long);
    // The tracked heap ends the process itself when it has no room.
    Scratch scratch(half * w);

    Order order = make_order(w, ctx1, ctx2, compare);
    Array a{static_cast<char*>(base), &order};
    auto next_run = [&](size_t start) {
        size_t end = run_end(a, start, n);
        if (end - start < min_run) {
            size_t stop = std::min(start + min_run, n);
            insertion_sort(a.from(start), stop - start, end - start);
            end = stop;
        }
        return end;
    };
    auto merge = [&](size_t left, size_t mid, size_t right) {
        merge_runs(a.at(left), a.at(mid), a.at(right), static_cast<char*>(scratch.block), order);
    };

    // Powers on the stack rise strictly and never exceed floor(log2 n) + 1.
    struct Pending {
        size_t start;
        int power;
    } stack[std::numeric_limits<size_t>::digits + 1];
    int top = 0;

    size_t start = 0, end = next_run(0);
    while (end < n) {
        size_t next_end = next_run(end);
        int power = boundary_power(start, end, next_end, n);
        while (top > 0 && stack[top - 1].power > power) {
            merge(stack[top - 1].start, start, end);
            start = stack[--top].start;
        }
        stack[top++] = {start, power};
        start = end;
        end = next_end;
    }
    while (top > 0) {
        merge(stack[top - 1].start, start, n);
        start = stack[--top].start;
    }
}

}  // namespace kel::sort
