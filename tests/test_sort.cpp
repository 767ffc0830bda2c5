// Both sorts against a stable oracle (Python's sorted on Linux,
// std::stable_sort in the Windows build) over the input shapes that steer
// their paths; comparison counts on ordered input; and comparisons that
// raise, answer at random, or play an adversary: whatever the comparison
// does, the array stays a permutation of its input, nothing is written
// outside it, and the scratch of the stable sort is released.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "runtime/error.hpp"
#include "runtime/mem.hpp"
#include "runtime/sort.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"
#include "tests/support/child.hpp"

using namespace kel;

namespace {

// A record the size of a value cell: the key, the input position, and a seal
// that tells a torn or made-up record from a moved one.
struct Record {
    int32_t key;
    uint32_t index;
    uint32_t seal;
    uint32_t spare;
};
static_assert(sizeof(Record) == 16);

uint32_t seal_of(int32_t key, uint32_t index) { return uint32_t(key) * 2654435761u ^ (index * 40503u + 0x5EA1u); }

enum class Mode : intptr_t { by_key, at_random, cyclic, adversary };

// McIlroy's adversary: keys are decided only as the sort asks, always so as
// to make the record it seems to pick as pivot the smallest still open.
struct Adversary {
    std::vector<int> value;
    int gas, solid = 0;
    uint32_t candidate = 0;
    explicit Adversary(size_t n) : value(n, int(n)), gas(int(n)) {}
    int compare(uint32_t x, uint32_t y) {
        if (value[x] == gas && value[y] == gas) value[x == candidate ? x : y] = solid++;
        if (value[x] == gas)
            candidate = x;
        else if (value[y] == gas)
            candidate = y;
        return value[x] - value[y];
    }
};

// What one sort saw of its comparison: ctx1 points here, ctx2 is the Mode.
struct Probe {
    size_t count = 0;
    size_t raise_at = SIZE_MAX;
    std::mt19937 chaos{5};
    Adversary* adversary = nullptr;
    uintptr_t stack_top = 0, stack_low = 0;  // the deepest the adversary was called
};

int compare_records(const void* a, const void* b, intptr_t ctx1, intptr_t ctx2) {
    auto* probe = reinterpret_cast<Probe*>(ctx1);
    if (probe->count++ == probe->raise_at) error::fire(error::id::out_of_range);
    auto* x = static_cast<const Record*>(a);
    auto* y = static_cast<const Record*>(b);
    switch (Mode(ctx2)) {
    case Mode::by_key: return (x->key > y->key) - (x->key < y->key);
    case Mode::at_random: return int(probe->chaos() % 3) - 1;
    case Mode::cyclic: {
        int rx = (x->key % 3 + 3) % 3, ry = (y->key % 3 + 3) % 3;
        return rx == ry ? 0 : (rx - ry + 3) % 3 == 1 ? 1 : -1;
    }
    case Mode::adversary: {
        char here;
        probe->stack_low = std::min(probe->stack_low, reinterpret_cast<uintptr_t>(&here));
        return probe->adversary->compare(x->index, y->index);
    }
    }
    return 0;
}

enum class Which { fast, stable };
const char* name_of(Which s) { return s == Which::fast ? "sort_records" : "stable_sort"; }

void run(Which which, Record* base, size_t n, Probe& probe, Mode mode = Mode::by_key) {
    auto ctx1 = reinterpret_cast<intptr_t>(&probe);
    if (which == Which::fast)
        sort::sort_records(base, n, sizeof(Record), ctx1, intptr_t(mode), compare_records);
    else
        sort::stable_sort(base, n, sizeof(Record), ctx1, intptr_t(mode), compare_records);
}

// Records between two guard records that no sort may touch.
struct Arena {
    std::vector<Record> cells;
    size_t n;
    static constexpr Record guard{INT_MIN, 0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF};

    explicit Arena(const std::vector<int32_t>& keys) : n(keys.size()) {
        cells.reserve(n + 2);  // exactly: a read past the last guard is outside the block
        cells.push_back(guard);
        for (size_t i = 0; i < n; ++i) cells.push_back({keys[i], uint32_t(i), seal_of(keys[i], uint32_t(i)), 0});
        cells.push_back(guard);
    }
    Record* data() { return cells.data() + 1; }
    Record& operator[](size_t i) { return cells[i + 1]; }

    // Every input record once, whole, and the guards untouched.
    ::testing::AssertionResult is_permutation() {
        if (std::memcmp(&cells.front(), &guard, sizeof guard) || std::memcmp(&cells.back(), &guard, sizeof guard))
            return ::testing::AssertionFailure() << "a guard record was written";
        std::vector<bool> seen(n);
        for (size_t i = 0; i < n; ++i) {
            const Record& r = (*this)[i];
            if (r.index >= n || seen[r.index] || r.seal != seal_of(r.key, r.index))
                return ::testing::AssertionFailure() << "record " << i << " is lost, doubled or torn";
            seen[r.index] = true;
        }
        return ::testing::AssertionSuccess();
    }
};

enum class Shape { random, few, sorted, reversed, sawtooth, descending_pairs, nearly_sorted, organ_pipe, runs };

const char* name_of(Shape s) {
    const char* names[] = {"random", "few", "sorted", "reversed", "sawtooth",
                           "descending pairs", "nearly sorted", "organ pipe", "runs"};
    return names[int(s)];
}

std::vector<int32_t> make_keys(Shape shape, size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int32_t> k(n);
    for (size_t i = 0; i < n; ++i) {
        switch (shape) {
        case Shape::random: k[i] = int32_t(rng() >> 1) - (1 << 30); break;
        case Shape::few: k[i] = int32_t(rng() % 5); break;
        case Shape::sorted: k[i] = int32_t(i); break;
        case Shape::reversed: k[i] = int32_t(n - i); break;
        case Shape::sawtooth: k[i] = int32_t(i % 50); break;
        case Shape::descending_pairs: k[i] = int32_t((n - i) / 2); break;
        case Shape::nearly_sorted: k[i] = int32_t(i); break;
        case Shape::organ_pipe: k[i] = int32_t(std::min(i, n - i)); break;
        case Shape::runs: k[i] = i % 100 == 0 ? int32_t(rng() % 100000) : k[i - 1] + int32_t(rng() % 3); break;
        }
    }
    if (shape == Shape::nearly_sorted)
        for (size_t t = 0; t < n / 100 + 1 && n > 1; ++t) std::swap(k[rng() % n], k[rng() % n]);
    return k;
}

// The stable order of each case: input positions by key, ties by position.
std::vector<std::vector<uint32_t>> stable_orders(const std::vector<std::vector<int32_t>>& cases) {
    std::vector<std::vector<uint32_t>> orders;
#ifndef _WIN32
    auto path = std::filesystem::temp_directory_path() / ("kel-sort-" + std::to_string(::getpid()) + ".txt");
    {
        std::ofstream out(path);
        for (const auto& keys : cases) {
            out << '.';
            for (int32_t k : keys) out << ' ' << k;
            out << '\n';
        }
    }
    const char* script =
        "import sys\n"
        "for line in open(sys.argv[1]):\n"
        "    k = [int(x) for x in line.split()[1:]]\n"
        "    print(' '.join(['.'] + [str(i) for i in sorted(range(len(k)), key=k.__getitem__)]))\n";
    test::ChildResult r = test::run_child("/usr/bin/env", {"python3", "-c", script, path.string()});
    std::filesystem::remove(path);
    EXPECT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line.substr(1));
        std::vector<uint32_t> order;
        for (uint32_t i; fields >> i;) order.push_back(i);
        orders.push_back(order);
    }
#else
    for (const auto& keys : cases) {
        std::vector<uint32_t> order(keys.size());
        for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
        orders.push_back(order);
    }
#endif
    return orders;
}

// Each test takes the stable sort's scratch from a tracked heap of its own,
// which must be empty again afterwards, however the sort ended.
struct Sort : ::testing::Test {
    mem::HeapList heap;
    mem::HeapList* saved = nullptr;
    void SetUp() override {
        saved = sys::record.heap_list;
        sys::record.heap_list = &heap;
    }
    void TearDown() override {
        EXPECT_EQ(heap.head, nullptr) << "the sort left a heap block behind";
        mem::release_all();
        sys::record.heap_list = saved;
    }
};

}  // namespace

// Sizes at the edges of the insertion sort (7), the minimum run (24), the
// first-63 pivot range (511), and one large enough for a sorted range to
// sample the next (300,000).
TEST_F(Sort, BothSortsMatchTheStableOracle) {
    const size_t sizes[] = {0, 1, 2, 3, 7, 8, 23, 24, 25, 100, 511, 512, 1000, 4096, 20000};
    const Shape shapes[] = {Shape::random,   Shape::few,           Shape::sorted,
                            Shape::reversed, Shape::sawtooth,      Shape::descending_pairs,
                            Shape::nearly_sorted, Shape::organ_pipe, Shape::runs};
    struct Case {
        Shape shape;
        size_t n;
    };
    std::vector<Case> cases;
    for (Shape s : shapes)
        for (size_t n : sizes) cases.push_back({s, n});
    for (Shape s : {Shape::random, Shape::few, Shape::nearly_sorted, Shape::sawtooth}) cases.push_back({s, 300000});

    std::vector<std::vector<int32_t>> inputs;
    for (size_t i = 0; i < cases.size(); ++i) inputs.push_back(make_keys(cases[i].shape, cases[i].n, uint32_t(i)));
    std::vector<std::vector<uint32_t>> orders = stable_orders(inputs);
    ASSERT_EQ(orders.size(), cases.size());

    for (size_t c = 0; c < cases.size(); ++c) {
        const std::vector<int32_t>& keys = inputs[c];
        const std::vector<uint32_t>& order = orders[c];
        ASSERT_EQ(order.size(), keys.size());
        for (Which which : {Which::fast, Which::stable}) {
            SCOPED_TRACE(std::string(name_of(which)) + ", " + name_of(cases[c].shape) + ", n " +
                         std::to_string(keys.size()));
            Arena a(keys);
            Probe probe;
            run(which, a.data(), a.n, probe);
            ASSERT_TRUE(a.is_permutation());
            size_t wrong = 0;
            for (size_t i = 0; i < a.n; ++i) {
                bool right = which == Which::stable ? a[i].index == order[i] : a[i].key == keys[order[i]];
                wrong += !right;
            }
            EXPECT_EQ(wrong, 0u);
        }
    }
}

// Records of 1 to 12 bytes, compared as unsigned little-endian numbers:
// widths that are not a multiple of 4 move byte by byte.
TEST_F(Sort, RecordsOfAnyWidth) {
    struct Bytes {
        static int compare(const void* a, const void* b, intptr_t width, intptr_t) {
            auto* x = static_cast<const uint8_t*>(a);
            auto* y = static_cast<const uint8_t*>(b);
            for (intptr_t i = width; i-- > 0;)
                if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
            return 0;
        }
    };
    std::mt19937 rng(3);
    for (size_t w : {1, 2, 3, 4, 5, 8, 12}) {
        for (size_t n : {6, 700, 20000}) {
            for (uint32_t spread : {7u, 0xFFFFFFFFu}) {
                std::vector<uint8_t> input(n * w);
                for (size_t i = 0; i < n; ++i)
                    for (size_t b = 0; b < w; ++b) input[i * w + b] = uint8_t(b == 0 ? rng() % spread : rng() % 3);
                std::vector<std::vector<uint8_t>> expected(n);
                for (size_t i = 0; i < n; ++i) expected[i].assign(input.begin() + i * w, input.begin() + (i + 1) * w);
                std::stable_sort(expected.begin(), expected.end(), [&](const auto& x, const auto& y) {
                    return Bytes::compare(x.data(), y.data(), intptr_t(w), 0) < 0;
                });
                for (Which which : {Which::fast, Which::stable}) {
                    std::vector<uint8_t> data = input;
                    if (which == Which::fast)
                        sort::sort_records(data.data(), n, w, intptr_t(w), 0, Bytes::compare);
                    else
                        sort::stable_sort(data.data(), n, w, intptr_t(w), 0, Bytes::compare);
                    size_t wrong = 0;
                    for (size_t i = 0; i < n; ++i) wrong += std::memcmp(&data[i * w], expected[i].data(), w) != 0;
                    EXPECT_EQ(wrong, 0u) << name_of(which) << ", width " << w << ", n " << n;
                }
            }
        }
    }
}

// Ordered input is recognised in one pass: n - 1 comparisons, a descending
// one reversed in place; 0 or 1 record costs nothing.
TEST_F(Sort, OrderedInputCostsOnePass) {
    struct Case {
        Shape shape;
        bool strict;  // a strictly descending run is one run to the stable sort too
    } cases[] = {
        {Shape::sorted, true},
        {Shape::reversed, true},
        {Shape::descending_pairs, false},
        {Shape::few, true},  // made all equal below
    };
    for (const Case& c : cases) {
        for (size_t n : {0, 1, 2, 9, 1000, 100000}) {
            std::vector<int32_t> keys = make_keys(c.shape, n, 1);
            if (c.shape == Shape::few) std::fill(keys.begin(), keys.end(), 4);
            for (Which which : {Which::fast, Which::stable}) {
                if (which == Which::stable && !c.strict) continue;
                Arena a(keys);
                Probe probe;
                run(which, a.data(), a.n, probe);
                EXPECT_EQ(probe.count, n < 2 ? 0 : n - 1) << name_of(which) << ", " << name_of(c.shape) << ", n " << n;
                ASSERT_TRUE(a.is_permutation());
                for (size_t i = 1; i < n; ++i) ASSERT_LE(a[i - 1].key, a[i].key);
                if (c.shape == Shape::few) {  // equal records stay where they were
                    for (size_t i = 0; i < n; ++i) ASSERT_EQ(a[i].index, i);
                }
            }
        }
    }
}

// The quicksort core, entered with a sorted sample at the front (h > 0) or
// the back (h < 0), small and large against the array.
TEST_F(Sort, QuicksortTakesSortedSamplesFromEitherEnd) {
    const size_t n = 50000;
    for (ptrdiff_t hint : {0, 2, 3, 100, -100, 195, -195, 5000, -5000, 49990, -49990, 50000, -50000}) {
        std::vector<int32_t> keys = make_keys(Shape::random, n, uint32_t(hint + 100000));
        size_t s = size_t(hint < 0 ? -hint : hint);
        if (hint > 0) std::sort(keys.begin(), keys.begin() + s);
        if (hint < 0) std::sort(keys.end() - s, keys.end());
        Arena a(keys);
        Probe probe;
        sort::quicksort(a.data(), hint, n, sizeof(Record), reinterpret_cast<intptr_t>(&probe), 0, compare_records);
        ASSERT_TRUE(a.is_permutation()) << "hint " << hint;
        for (size_t i = 1; i < n; ++i) ASSERT_LE(a[i - 1].key, a[i].key) << "hint " << hint << ", at " << i;
    }
}

// A comparison that raises an error after k answers, for k across the whole
// sort: the error reaches the caller, the array keeps every record once, and
// the stable sort's scratch is released. The "runs" shape makes merges most
// of the stable sort's work, so many of the errors strike inside one.
TEST_F(Sort, RaisingComparisonLeavesAPermutation) {
    for (Shape shape : {Shape::random, Shape::runs}) {
        std::vector<int32_t> keys = make_keys(shape, 3000, 11);
        for (Which which : {Which::fast, Which::stable}) {
            Arena full(keys);
            Probe whole;
            run(which, full.data(), full.n, whole);
            for (size_t k = 0; k < whole.count; k += whole.count / 97 + 1) {
                Arena a(keys);
                Probe probe;
                probe.raise_at = k;
                uint32_t code = throws::protect(throws::error, [&] { run(which, a.data(), a.n, probe); });
                EXPECT_EQ(code, throws::error) << name_of(which) << ", " << name_of(shape) << ", k " << k;
                ASSERT_TRUE(a.is_permutation()) << name_of(which) << ", " << name_of(shape) << ", k " << k;
                ASSERT_EQ(heap.head, nullptr) << name_of(which) << ", " << name_of(shape) << ", k " << k;
            }
        }
    }
}

// Comparisons that contradict themselves (at random) or are not transitive
// (rock, paper, scissors): no order exists, but every sort ends, inside the
// array, with a permutation.
TEST_F(Sort, InconsistentComparisonsStayInsideTheArray) {
    for (Mode mode : {Mode::at_random, Mode::cyclic}) {
        for (size_t n : {2, 5, 8, 30, 600, 5000, 70000}) {
            for (Shape shape : {Shape::random, Shape::sorted, Shape::few}) {
                for (Which which : {Which::fast, Which::stable}) {
                    Arena a(make_keys(shape, n, uint32_t(n)));
                    Probe probe;
                    run(which, a.data(), a.n, probe, mode);
                    ASSERT_TRUE(a.is_permutation()) << name_of(which) << ", n " << n << ", " << name_of(shape)
                                                    << (mode == Mode::cyclic ? ", cyclic" : ", at random");
                }
            }
        }
    }
}

// An adversary that fixes keys only as they are compared, always so that
// the record the sort seems to take as pivot is the smallest still open,
// drives a quicksort without a depth budget to about 12 n log2 n
// comparisons and a recursion 500 to 700 calls deep (75 to 105 KB of stack)
// at this size. With the budget: about 3 n log2 n, and 5 KB (14 KB under ASan)
// seen from the deepest stack address the comparison is called at.
TEST_F(Sort, AdversaryCannotDeepenTheRecursion) {
    const size_t n = 100000;
    for (bool shuffled : {false, true}) {
        Arena a(std::vector<int32_t>(n, 0));
        if (shuffled) std::shuffle(a.data(), a.data() + n, std::mt19937(4));
        Adversary adversary(n);
        Probe probe;
        probe.adversary = &adversary;
        char top;
        probe.stack_top = reinterpret_cast<uintptr_t>(&top);
        probe.stack_low = probe.stack_top;
        auto ctx1 = reinterpret_cast<intptr_t>(&probe);
        // Unshuffled, sort_records would see an ordered array: go to the core.
        if (shuffled)
            sort::sort_records(a.data(), n, sizeof(Record), ctx1, intptr_t(Mode::adversary), compare_records);
        else
            sort::quicksort(a.data(), 0, n, sizeof(Record), ctx1, intptr_t(Mode::adversary), compare_records);
        const char* entry = shuffled ? "sort_records" : "quicksort";
        ASSERT_TRUE(a.is_permutation()) << entry;
        for (size_t i = 1; i < n; ++i) ASSERT_LE(adversary.value[a[i - 1].index], adversary.value[a[i].index]) << entry;
        EXPECT_LT(double(probe.count), 6 * n * std::log2(double(n))) << entry;
        EXPECT_LT(probe.stack_top - probe.stack_low, 48u * 1024) << entry;
    }
}

// A scratch of n / 2 records that does not fit in 32 bits is refused before
// the array or the comparison is touched.
TEST_F(Sort, StableSortRefusesScratchBeyond32Bits) {
    Arena a(std::vector<int32_t>{3, 1, 2});
    Probe probe;
    auto ctx1 = reinterpret_cast<intptr_t>(&probe);
    const size_t n = size_t(1) << 29;  // scratch of 2^28 records of 16 bytes: 2^32 bytes
    uint32_t code = throws::protect(throws::error, [&] {
        sort::stable_sort(a.data(), n, sizeof(Record), ctx1, 0, compare_records);
    });
    EXPECT_EQ(code, throws::error);
    EXPECT_EQ(error::pending.category, error::Category::script);
    EXPECT_STREQ(error::pending.id, "too-long");
    EXPECT_EQ(probe.count, 0u);
    EXPECT_EQ(a[0].key, 3);
    EXPECT_EQ(a[1].key, 1);
}
