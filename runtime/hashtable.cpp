#include "runtime/hashtable.hpp"

#include <cstring>
#include <string>

#include "runtime/actions.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/collector.hpp"
#include "runtime/error.hpp"
#include "runtime/murmur.hpp"
#include "runtime/symbol.hpp"

#include <string_view>

namespace kel::hashtable {
namespace {

constexpr uint32_t flag_used = 0, flag_deleted = 1, flag_empty = 2;

uint8_t* data_of(NodeId node) {
    SeriesBuffer* b = alloc::buffer_of(node);
    return b->data() + b->offset;
}

uint32_t* flags_of(const Record* r) { return reinterpret_cast<uint32_t*>(data_of(r->flags)); }
int32_t* keys_of(const Record* r) { return reinterpret_cast<int32_t*>(data_of(r->keys)); }
Cell* cells_of(NodeId block) { return reinterpret_cast<Cell*>(data_of(block)); }

uint32_t flag(const uint32_t* flags, uint32_t b) { return (flags[b >> 4] >> (2 * (b & 15))) & 3; }
void set_flag(uint32_t* flags, uint32_t b, uint32_t v) {
    uint32_t shift = 2 * (b & 15);
    flags[b >> 4] = (flags[b >> 4] & ~(3u << shift)) | (v << shift);
}

// The most buckets a table can have: its key array, one 32-bit word per
// bucket, must fit in one series.
constexpr uint64_t max_buckets = uint64_t(1) << 28;
static_assert(4 * max_buckets <= alloc::series_limit && 8 * max_buckets > alloc::series_limit);

// The bucket count for a target: the power of two at or above it, at least 4.
// A target past what a table can index raises no-memory before anything is
// made.
uint32_t bucket_count(uint64_t target) {
    if (target > max_buckets) error::fire(error::id::no_memory);
    uint32_t p = 4;
    while (p < target) p <<= 1;
    return p;
}

// A series of n bytes, all of them in use, filled with `fill`.
NodeId filled_bytes(uint64_t n, uint8_t fill) {
    NodeId node = alloc::alloc_filled_bytes(n, fill);
    SeriesBuffer* b = alloc::buffer_of(node);
    b->tail = b->offset + uint32_t(n);
    return node;
}

// New flag and key arrays for `buckets` buckets, all empty.
void make_arrays(NodeId table, uint32_t buckets) {
    // The new flags stay a root while the keys are made: that allocation
    // may collect, and the record still holds the old arrays.
    collector::RootCell held;
    NodeId flags = filled_bytes(buckets / 4, 0xAA);
    held.cell = Cell{type::binary, 0, flags, 0};
    NodeId keys = filled_bytes(uint64_t(buckets) * 4, 0);
    Record* r = record(table);
    r->flags = flags;
    r->keys = keys;
    r->buckets = buckets;
}

// Hash of the name with ASCII A-Z lowered: every spelling of a word lands in
// the same chain, and the comparison decides.
uint32_t name_hash(const char* name, size_t length) {
    char small[256];
    std::string large;
    char* lowered = small;
    if (length > sizeof small) {
        large.resize(length);
        lowered = large.data();
    }
    for (size_t i = 0; i < length; ++i) {
        char c = name[i];
        lowered[i] = c >= 'A' && c <= 'Z' ? char(c | 0x60) : c;
    }
    return murmur::hash(lowered, length, murmur::seed);
}

uint32_t word_hash(uint32_t symbol) { return murmur::fmix32(symbol::resolve(symbol)); }

// The hash of the key stored in bucket position `key` (for rehashing).
uint32_t key_hash(const Record* r, int32_t key) {
    if (r->kind >= identity) {
        const auto* c = reinterpret_cast<const Cell*>(data_of(r->block) + key);
        return murmur::fmix32(c->payload2);
    }
    const Cell* c = cells_of(r->block) + key;
    if (r->kind <= map_keys) return hash_cell(c);
    if (cell::is(c, type::symbol)) {
        SeriesBuffer* name = alloc::buffer_of(c->payload3);
        return name_hash(reinterpret_cast<const char*>(name->data() + name->offset), name->tail - name->offset);
    }
    return word_hash(c->payload2);
}

// Identity tables: a new entries series holding only the live entries, so
// that put and delete churn does not grow it without bound.
void compact_entries(NodeId table) {
    Record* r = record(table);
    NodeId fresh = alloc::alloc_cells(uint64_t(r->count) * (r->aux / sizeof(Cell)) + 1);
    r = record(table);
    SeriesBuffer* out = alloc::buffer_of(fresh);
    const uint8_t* old = data_of(r->block);
    const uint32_t* flags = flags_of(r);
    int32_t* keys = keys_of(r);
    for (uint32_t b = 0; b < r->buckets; ++b) {
        if (flag(flags, b) != flag_used) continue;
        std::memcpy(out->data() + out->tail, old + keys[b], r->aux);
        keys[b] = int32_t(out->tail - out->offset);
        out->tail += r->aux;
    }
    r->block = fresh;
}

// Rehashes every live key into `buckets` buckets. Deleted buckets vanish.
void resize(NodeId table, uint64_t target) {
    uint32_t buckets = bucket_count(target);
    Record* r = record(table);
    uint32_t upper = uint32_t(buckets * 0.77 + 0.5);
    if (r->count >= upper) return;
    uint32_t old_buckets = r->buckets;
    NodeId old_flags = r->flags, old_keys = r->keys;
    make_arrays(table, buckets);
    r = record(table);
    r->upper = upper;
    r->occupied = r->count;
    const uint32_t* of = reinterpret_cast<const uint32_t*>(data_of(old_flags));
    const int32_t* ok = reinterpret_cast<const int32_t*>(data_of(old_keys));
    uint32_t* nf = flags_of(r);
    int32_t* nk = keys_of(r);
    uint32_t mask = buckets - 1;
    for (uint32_t b = 0; b < old_buckets; ++b) {
        if (flag(of, b) != flag_used) continue;
        if (r->kind == map_keys && cells_of(r->block)[ok[b] + 1].header == 0) continue;  // a removed pair
        uint32_t at = key_hash(r, ok[b]) & mask;
        for (uint32_t step = 1; flag(nf, at) != flag_empty; ++step) at = (at + step) & mask;
        set_flag(nf, at, flag_used);
        nk[at] = ok[b];
    }
    if (r->kind >= identity) compact_entries(table);
}

// Words tables grow in large steps: they hold thousands of symbols.
void grow_words_if_full(NodeId table) {
    Record* r = record(table);
    if (r->occupied < r->upper) return;
    uint64_t target = 2 * uint64_t(r->count) >= r->buckets ? r->buckets + 1 : r->buckets - 1;
    resize(table, 16 * target);
}

void grow_if_full(NodeId table) {
    Record* r = record(table);
    if (r->occupied < r->upper) return;
    resize(table, 2 * uint64_t(r->count) >= r->buckets ? r->buckets + 1 : r->buckets - 1);
}

// Where a probe for hash h ended: the bucket holding a match, or the bucket
// a new key would take (the first deleted one met, else the empty one).
struct Probe {
    int64_t found = -1;
    int64_t free = -1;
};

template <class Match>
Probe probe(const Record* r, uint32_t h, Match match) {
    const uint32_t* flags = flags_of(r);
    const int32_t* keys = keys_of(r);
    uint32_t mask = r->buckets - 1, start = h & mask, at = start;
    Probe p;
    for (uint32_t step = 1;; ++step) {
        uint32_t f = flag(flags, at);
        if (f == flag_empty) {
            if (p.free < 0) p.free = at;
            return p;
        }
        if (f == flag_deleted) {
            if (p.free < 0) p.free = at;
        } else if (match(keys[at])) {
            p.found = at;
            return p;
        }
        at = (at + step) & mask;
        if (at == start) return p;
    }
}

void take_bucket(NodeId table, int64_t bucket, int32_t key) {
    Record* r = record(table);
    uint32_t* flags = flags_of(r);
    if (flag(flags, uint32_t(bucket)) == flag_empty) ++r->occupied;
    set_flag(flags, uint32_t(bucket), flag_used);
    keys_of(r)[bucket] = key;
    ++r->count;
}

const char* name_of(const Cell* symbol, uint32_t& length) {
    SeriesBuffer* b = alloc::buffer_of(symbol->payload3);
    length = b->tail - b->offset;
    return reinterpret_cast<const char*>(b->data() + b->offset);
}

bool same_ignoring_ascii_case(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x | 0x60);
        if (y >= 'A' && y <= 'Z') y = char(y | 0x60);
        if (x != y) return false;
    }
    return true;
}

}  // namespace

Record* record(NodeId table) { return reinterpret_cast<Record*>(data_of(table)); }

uint32_t block_length(NodeId table) {
    SeriesBuffer* b = alloc::buffer_of(record(table)->block);
    return (b->tail - b->offset) / sizeof(Cell);
}

NodeId init(uint32_t size, NodeId block, Kind kind, uint32_t mode) {
    uint64_t n = size;
    if (kind == words && n >= 4000) n *= 2;
    if (n < 4) n = 4;
    uint32_t buckets = bucket_count(uint64_t(double(n) / 0.77));
    NodeId table = filled_bytes(sizeof(Record), 0);
    collector::RootCell holder;  // a root while its parts are made
    holder.cell = Cell{type::hash, 0, 0, table};
    Record* r = record(table);
    r->kind = kind;
    r->upper = uint32_t(buckets * 0.77);
    if (kind >= identity) r->aux = 16 * mode + 16;
    // A block of its own comes first: a size whose cells cannot fit in a
    // series raises before the bucket arrays are made.
    bool own_block = kind >= identity || !block;
    if (own_block) {
        NodeId cells = alloc::alloc_cells(n);
        record(table)->block = cells;
    }
    make_arrays(table, buckets);
    if (kind == hash_cells) {
        NodeId index = filled_bytes(n * 4, 0xFF);
        record(table)->aux = index;
        NodeId dups = alloc::alloc_bytes(16);
        record(table)->dups = dups;
    }
    if (!own_block) {
        record(table)->block = block;
        if (kind <= map_keys) load_block(table, 0, kind == map_keys ? 2 : 1);
    }
    return table;
}

NodeId copy_words(NodeId source) {
    NodeId table = alloc::clone_buffer(alloc::buffer_of(source));
    collector::RootCell holder;  // the copy's record still names the source's parts
    holder.cell = Cell{type::hash, 0, 0, table};
    NodeId flags = alloc::clone_buffer(alloc::buffer_of(record(source)->flags));
    record(table)->flags = flags;
    NodeId keys = alloc::clone_buffer(alloc::buffer_of(record(source)->keys));
    record(table)->keys = keys;
    NodeId block = alloc::clone_buffer(alloc::buffer_of(record(source)->block));
    alloc::buffer_of(block)->flags = (alloc::buffer_of(block)->flags & ~alloc::flag::unit_mask) | sizeof(Cell);
    Record* r = record(table);
    r->flags = flags;
    r->keys = keys;
    r->block = block;
    return table;
}

uint32_t find_symbol(NodeId table, const char* name, size_t length, bool any_case) {
    grow_words_if_full(table);
    uint32_t h = name_hash(name, length);
    Record* r = record(table);
    const Cell* cells = cells_of(r->block);
    auto exact = [&](int32_t key) {
        uint32_t n;
        const char* s = name_of(cells + key, n);
        return n == length && std::memcmp(s, name, length) == 0;
    };
    auto any = [&](int32_t key) {
        uint32_t n;
        const char* s = name_of(cells + key, n);
        return n == length && same_ignoring_ascii_case(s, name, length);
    };
    int32_t alias = -1;
    Probe p = any_case ? probe(r, h, any) : probe(r, h, exact);
    if (p.found >= 0) return uint32_t(keys_of(r)[p.found]) + 1;
    if (!any_case) {
        Probe q = probe(r, h, any);
        if (q.found >= 0) alias = keys_of(r)[q.found] + 1;
    }

    // A new symbol: its cell first (so that the name, made next, is reached
    // from the symbols block), then its name in a byte series with a NUL
    // after the tail. The name may live in a buffer that this moves: copy it.
    std::string kept(name, length);
    NodeId block = record(table)->block;
    Cell* c = series::bump_tail(alloc::buffer_of(block));
    *c = Cell{type::symbol, uint32_t(alias), 0, 0};
    int32_t position = int32_t(block_length(table)) - 1;
    NodeId name_node = alloc::alloc_bytes(length + 1);
    SeriesBuffer* nb = alloc::buffer_of(name_node);
    std::memcpy(nb->data() + nb->offset, kept.data(), length);
    nb->data()[nb->offset + length] = 0;
    nb->tail = nb->offset + uint32_t(length);
    cells_of(record(table)->block)[position].payload3 = name_node;
    take_bucket(table, p.free, position);
    return uint32_t(position) + 1;
}

int32_t find_context_word(NodeId table, uint32_t symbol, NodeId context, int32_t* added, bool canonical) {
    if (context) grow_words_if_full(table);
    Record* r = record(table);
    const Cell* cells = cells_of(r->block);
    uint32_t key = canonical ? symbol::resolve(symbol) : symbol;
    Probe p = probe(r, word_hash(symbol), [&](int32_t at) {
        uint32_t s = cells[at].payload2;
        return (canonical ? symbol::resolve(s) : s) == key;
    });
    if (p.found >= 0) return keys_of(r)[p.found];
    if (!context) return -1;
    NodeId block = r->block;
    int32_t position = int32_t(block_length(table));
    Cell* w = series::bump_tail(alloc::buffer_of(block));
    w->header = type::word;
    w->payload1 = context;
    w->payload2 = symbol;
    w->payload3 = uint32_t(position);
    take_bucket(table, p.free, position);
    if (added) *added = position;
    return -1;
}

Cell* get_pointer(NodeId table, NodeId key) {
    Record* r = record(table);
    const uint8_t* entries = data_of(r->block);
    Probe p = probe(r, murmur::fmix32(key), [&](int32_t at) {
        return reinterpret_cast<const Cell*>(entries + at)->payload2 == key;
    });
    if (p.found < 0) return nullptr;
    return reinterpret_cast<Cell*>(data_of(r->block) + keys_of(r)[p.found]) + 1;
}

Cell* put_pointer(NodeId table, NodeId key) {
    if (Cell* values = get_pointer(table, key)) return values;
    grow_if_full(table);
    Record* r = record(table);
    const uint8_t* entries = data_of(r->block);
    Probe p = probe(r, murmur::fmix32(key), [&](int32_t at) {
        return reinterpret_cast<const Cell*>(entries + at)->payload2 == key;
    });
    uint32_t cells = r->aux / sizeof(Cell);
    SeriesBuffer* b = alloc::buffer_of(r->block);
    int32_t offset = int32_t(b->tail - b->offset);
    for (uint32_t i = 0; i < cells; ++i) series::bump_tail(alloc::buffer_of(record(table)->block));
    Cell* entry = reinterpret_cast<Cell*>(data_of(record(table)->block) + offset);
    entry->header = type::integer;  // any non-zero header: a live entry
    entry->payload1 = 0;
    entry->payload2 = key;
    entry->payload3 = 0;
    take_bucket(table, p.free, offset);
    return entry + 1;
}

void delete_pointer(NodeId table, NodeId key) {
    Record* r = record(table);
    uint8_t* entries = data_of(r->block);
    Probe p = probe(r, murmur::fmix32(key), [&](int32_t at) {
        return reinterpret_cast<const Cell*>(entries + at)->payload2 == key;
    });
    if (p.found < 0) return;
    reinterpret_cast<Cell*>(entries + keys_of(r)[p.found])->header = 0;
    set_flag(flags_of(r), uint32_t(p.found), flag_deleted);
    --r->count;
}

void sweep_pointers(NodeId table, bool (*alive)(NodeId), int owner_cell) {
    Record* r = record(table);
    uint32_t* flags = flags_of(r);
    const int32_t* keys = keys_of(r);
    uint8_t* entries = data_of(r->block);
    for (uint32_t b = 0; b < r->buckets; ++b) {
        if (flag(flags, b) != flag_used) continue;
        auto* entry = reinterpret_cast<Cell*>(entries + keys[b]);
        bool live = alive(entry->payload2);
        if (live && owner_cell >= 0) live = alive(entry[1 + owner_cell].payload1);
        if (live) continue;
        entry->header = 0;
        set_flag(flags, b, flag_deleted);
        --r->count;
    }
}

// ---- hash! and map! tables

namespace {

// Growable series of 32-bit items (positions, nodes).
uint32_t item_count(NodeId node) {
    SeriesBuffer* b = alloc::buffer_of(node);
    return (b->tail - b->offset) / 4;
}
int32_t* items(NodeId node) { return reinterpret_cast<int32_t*>(data_of(node)); }
void append_item(NodeId node, int32_t v) {
    uint8_t* p = series::bump_tail_bytes(alloc::buffer_of(node), 4);
    std::memcpy(p, &v, 4);
}
void remove_item(NodeId node, uint32_t i) {
    SeriesBuffer* b = alloc::buffer_of(node);
    uint8_t* at = b->data() + b->offset + 4 * i;
    std::memmove(at, at + 4, b->tail - (b->offset + 4 * (i + 1)));
    b->tail -= 4;
}

bool word_family(uint8_t t) {
    return t == type::word || t == type::set_word || t == type::lit_word || t == type::get_word ||
           t == type::refinement || t == type::issue;
}

bool equal_keys(const Cell* a, const Cell* b, int32_t op) {
    if (cell::type_of(a) != cell::type_of(b)) return false;
    // Integers are equal by value under every equality code: no dispatch.
    if (cell::is(a, type::integer)) return a->payload2 == b->payload2;
    return actions::compare_raw(a, b, op) == 0;
}

// A hash! bucket's positions: one, or a duplicate list.
struct Positions {
    const int32_t* at;
    uint32_t count;
    int32_t single;
};

Positions positions_of(const Record* r, int32_t key) {
    if (key >= 0) return {nullptr, 1, key};
    NodeId list = NodeId(items(r->dups)[-key - 1]);
    return {items(list), item_count(list), 0};
}

int32_t position_at(const Positions& p, uint32_t i) { return p.at ? p.at[i] : p.single; }

void set_cell_bucket(NodeId table, uint32_t position, int32_t bucket) {
    Record* r = record(table);
    SeriesBuffer* b = alloc::buffer_of(r->aux);
    uint32_t need = (position + 1) * 4;
    if (b->tail - b->offset < need) {
        uint32_t old = (b->tail - b->offset) / 4;
        while ((b->tail - b->offset) / 4 < position + 1) {
            series::bump_tail_bytes(alloc::buffer_of(record(table)->aux), 4);
            b = alloc::buffer_of(record(table)->aux);
        }
        std::memset(b->data() + b->offset + old * 4, 0xFF, (position + 1 - old) * 4);
    }
    items(record(table)->aux)[position] = bucket < 0 ? -1 : bucket + 1;
}

uint32_t hash_string(const Cell* s) {
    SeriesBuffer* b = alloc::buffer_of(s->payload2);
    uint32_t unit = b->unit(), h = murmur::seed, count = 0;
    for (uint32_t at = b->offset + s->payload1 * unit; at < b->tail; at += unit, ++count) {
        const uint8_t* p = b->data() + at;
        uint32_t cp = unit == 1 ? p[0] : unit == 2 ? uint32_t(p[0] | p[1] << 8)
                                                   : uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
        h = murmur::mix_block(h, case_folding::change_case(cp, true));
    }
    return murmur::finish(h, size_t(count) * 4);
}

}  // namespace

uint32_t hash_cell(const Cell* c) {
    auto words = [&](int first, int n) {
        return murmur::hash(&c->payload1 + (first - 1), size_t(n) * 4, murmur::seed);
    };
    switch (cell::type_of(c)) {
        case type::datatype: case type::logic: case type::object: case type::error: case type::port:
            return murmur::fmix32(c->payload1);
        case type::unset: return uint32_t(-2);
        case type::none: return uint32_t(-1);
        case type::block: case type::paren: case type::path: case type::lit_path: case type::set_path:
        case type::get_path: case type::hash: case type::point2d: case type::image:
            return words(1, 2);
        case type::string: case type::file: case type::url: case type::tag: case type::email: case type::ref:
            return hash_string(c);
        case type::char_: case type::integer: case type::map: case type::handle: case type::event:
            return murmur::fmix32(c->payload2);
        case type::float_: case type::pair: case type::percent: case type::time: return words(2, 2);
        case type::symbol: {
            std::string_view n = symbol::name(uint32_t(c - cells_of(symbol::symbols)) + 1);
            return name_hash(n.data(), n.size());
        }
        case type::word: case type::set_word: case type::lit_word: case type::get_word: case type::refinement:
        case type::issue:
            return word_hash(c->payload2);
        case type::native: case type::action: return murmur::fmix32(c->payload3);
        case type::op: case type::function: case type::triple: case type::typeset: case type::date:
        case type::point3d:
            return words(1, 3);
        case type::tuple:
            return murmur::hash(&c->payload1, (c->header >> 19) & 0xF, murmur::seed);
        case type::binary: {
            SeriesBuffer* b = alloc::buffer_of(c->payload2);
            uint32_t from = b->offset + c->payload1;
            return murmur::hash(b->data() + from, from < b->tail ? b->tail - from : 0, murmur::seed);
        }
        case type::money: {
            Cell copy = *c;
            copy.header = type::money | (c->header & 0x4000);
            return murmur::hash(&copy, sizeof copy, murmur::seed);
        }
        default: return 0;
    }
}

Cell* put(NodeId table, uint32_t position) {
    Record* r = record(table);
    if (r->kind == hash_cells && r->occupied >= r->upper) {
        rebuild(table, 2 * r->count >= r->buckets ? r->buckets + 1 : r->buckets - 1);
        return cells_of(record(table)->block) + position;  // the rebuild indexed it
    }
    if (r->kind == map_keys) grow_if_full(table);
    r = record(table);
    const Cell* cells = cells_of(r->block);
    const Cell* key = cells + position;
    int32_t op = r->kind == map_keys ? 2 : 0;
    Probe p = probe(r, hash_cell(key), [&](int32_t at) {
        Positions ps = positions_of(r, at);
        return equal_keys(cells + position_at(ps, 0), key, op);
    });
    if (p.found >= 0) {
        if (r->kind == map_keys) return cells_of(r->block) + keys_of(r)[p.found];
        // A hash! keeps equal keys: the bucket holds a list of their positions.
        int32_t k = keys_of(r)[p.found];
        if (k >= 0) {
            NodeId list = alloc::alloc_bytes(8);
            collector::RootCell held;  // the list, stored nowhere yet, while the dups series grows
            held.cell = Cell{type::binary, 0, list, 0};
            append_item(list, k);
            append_item(list, int32_t(position));
            append_item(record(table)->dups, int32_t(list));
            keys_of(record(table))[p.found] = -int32_t(item_count(record(table)->dups));
        } else {
            append_item(NodeId(items(record(table)->dups)[-k - 1]), int32_t(position));
        }
        set_cell_bucket(table, position, int32_t(p.found));
        return cells_of(record(table)->block) + position;
    }
    take_bucket(table, p.free, int32_t(position));
    if (record(table)->kind == hash_cells) set_cell_bucket(table, position, int32_t(p.free));
    return cells_of(record(table)->block) + position;
}

Cell* get(NodeId table, const Cell* key, int32_t start, int32_t skip, int32_t op, bool last, bool reverse) {
    Record* r = record(table);
    Cell k = *key;
    if (r->kind == map_keys && word_family(cell::type_of(&k))) cell::set_type(&k, type::set_word);
    const Cell* cells = cells_of(r->block);
    Probe p = probe(r, hash_cell(&k), [&](int32_t at) {
        Positions ps = positions_of(r, at);
        int32_t first = position_at(ps, 0);
        if (r->kind == map_keys && cells[first + 1].header == 0) return false;  // a removed pair
        return equal_keys(cells + first, &k, op);
    });
    if (p.found < 0) return nullptr;
    Positions ps = positions_of(r, keys_of(r)[p.found]);
    if (skip < 1) skip = 1;
    int32_t chosen = -1;
    for (uint32_t i = 0; i < ps.count; ++i) {
        int32_t at = position_at(ps, i);
        if (last) {
            if ((at - start) % skip == 0) chosen = at;
        } else if (reverse) {
            if (at < start && (start - at) % skip == 0) chosen = at;
        } else if (at >= start && (at - start) % skip == 0) {
            chosen = at;
            break;
        }
    }
    return chosen < 0 ? nullptr : const_cast<Cell*>(cells) + chosen;
}

MapSlot find_map_key(NodeId table, const Cell* key, int32_t op) {
    Record* r = record(table);
    Cell k = *key;
    if (word_family(cell::type_of(&k))) cell::set_type(&k, type::set_word);
    const Cell* cells = cells_of(r->block);
    MapSlot slot;
    // The live key under op ends the walk; the strict match and the free
    // bucket are the first ones met, as separate probes would find them.
    // A live key that is not equal under op is not strictly equal either.
    Probe p = probe(r, hash_cell(&k), [&](int32_t at) {
        const Cell* c = cells + at;
        if (c[1].header != 0) return equal_keys(c, &k, op);
        if (slot.strict < 0 && equal_keys(c, &k, 2)) slot.strict = at;  // a removed pair
        return false;
    });
    if (p.found >= 0) {
        slot.live = keys_of(r)[p.found];
        return slot;
    }
    slot.free = p.free;
    slot.grows = r->occupied >= r->upper;
    return slot;
}

void put_at(NodeId table, int64_t bucket, uint32_t position) { take_bucket(table, bucket, int32_t(position)); }

void remove(NodeId table, uint32_t position) {
    Record* r = record(table);
    if (r->kind == map_keys) {
        Cell* value = cells_of(r->block) + position + 1;
        if (value->header == 0) return;
        value->header = 0;
        --r->count;
        return;
    }
    SeriesBuffer* index = alloc::buffer_of(r->aux);
    if ((index->tail - index->offset) / 4 <= position) return;
    int32_t bucket = items(r->aux)[position] - 1;
    if (bucket < 0) return;
    items(r->aux)[position] = -1;
    int32_t k = keys_of(r)[bucket];
    if (k < 0) {
        NodeId list = NodeId(items(r->dups)[-k - 1]);
        int32_t* at = items(list);
        for (uint32_t i = 0, n = item_count(list); i < n; ++i)
            if (at[i] == int32_t(position)) {
                remove_item(list, i);
                break;
            }
        if (item_count(list) > 0) return;
    }
    set_flag(flags_of(r), uint32_t(bucket), flag_deleted);
    --r->count;
}

void clear(NodeId table) {
    Record* r = record(table);
    r->count = r->occupied = 0;
    std::memset(flags_of(r), 0xAA, r->buckets / 4);
    SeriesBuffer* b = alloc::buffer_of(r->block);
    b->tail = b->offset;
    if (r->kind == hash_cells) {
        alloc::buffer_of(r->dups)->tail = alloc::buffer_of(r->dups)->offset;
        alloc::buffer_of(r->aux)->tail = alloc::buffer_of(r->aux)->offset;
    }
}

void rebuild(NodeId table, uint32_t size) {
    uint32_t buckets = bucket_count(uint64_t(1.5 * double(size)));
    make_arrays(table, buckets);
    Record* r = record(table);
    r->upper = uint32_t(buckets * 0.77 + 0.5);
    r->count = r->occupied = 0;
    if (r->kind == hash_cells) {
        alloc::buffer_of(r->dups)->tail = alloc::buffer_of(r->dups)->offset;
        alloc::buffer_of(r->aux)->tail = alloc::buffer_of(r->aux)->offset;
    }
    load_block(table, 0, r->kind == map_keys ? 2 : 1);
}

void load_block(NodeId table, uint32_t start, uint32_t step) {
    for (uint32_t i = start; i < block_length(table); i += step) {
        if (record(table)->kind != map_keys) {
            put(table, i);
            continue;
        }
        if (i + 1 >= block_length(table)) break;
        Cell* kept = put(table, i);
        Cell* cells = cells_of(record(table)->block);
        if (kept == cells + i) continue;
        // A repeated key: the earlier key takes the later value, and the
        // later pair leaves the block.
        kept[1] = cells[i + 1];
        SeriesBuffer* b = alloc::buffer_of(record(table)->block);
        uint8_t* at = b->data() + b->offset + i * sizeof(Cell);
        std::memmove(at, at + 2 * sizeof(Cell), b->tail - (b->offset + (i + 2) * uint32_t(sizeof(Cell))));
        b->tail -= 2 * sizeof(Cell);
        i -= step;
    }
}

}  // namespace kel::hashtable
