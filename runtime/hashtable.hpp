// The one open-addressing hash table of the runtime.
//
// A table indexes cells of a block that its owner keeps (the symbols block,
// the words block of a context, the cells of a hash! or the keys of a map!):
// it maps a hash to cell positions and holds no keys of its own. Identity
// tables (kinds 3 and 4) are the exception: their block is a series of
// entries, each a key cell naming a series by node id, then value cells.
//
// Buckets are a power of two. Each has two flag bits (2 empty, 1 deleted,
// 0 in use) and a key word: the key's position in the block, or the entry's
// byte offset for identity tables. The i-th probe moves i buckets further, so
// a walk visits every bucket; the table grows when the buckets in use or
// deleted reach 0.77 of the count. A table has at most 2^28 buckets (its key
// array fits in one series): a size or a growth past that raises no-memory. The record and its arrays live in series
// buffers that the collector may move: hold the table's node, never its
// addresses, across anything that allocates.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"

namespace kel::hashtable {

enum Kind : uint32_t {
    hash_cells = 0,  // hash!: every cell, duplicates kept
    map_keys = 1,    // map!: every second cell
    words = 2,       // the symbol table and the word tables of contexts
    identity = 3,    // keyed by series identity, value cells kept alive
    ownership = 4,   // keyed by series identity, entries weak
};

struct Record {
    uint32_t count;     // live keys
    uint32_t aux;       // hash!: node of the cell-to-bucket index (bucket + 1 per cell, -1 none);
                        // identity kinds: bytes per entry, 16 x (1 + value cells)
    NodeId dups;        // hash!: the duplicate lists, a series of nodes of position series
    NodeId flags;       // 2 bits per bucket, 16 buckets per word
    NodeId keys;        // one signed word per bucket
    NodeId block;       // the indexed block, or the entries series
    uint32_t occupied;  // buckets in use or deleted
    uint32_t buckets;   // a power of two, at least 4
    uint32_t upper;     // occupied count at which the table grows
    uint32_t kind;
    uint32_t epoch;
};

Record* record(NodeId table);

// A new table for about `size` keys over `block` (0: a new block of its own;
// identity tables always make their entries series). For identity tables
// `mode` is the number of value cells per entry.
NodeId init(uint32_t size, NodeId block, Kind kind, uint32_t mode);

// A copy of a words table and its block, sharing nothing with the source.
NodeId copy_words(NodeId source);

// The symbol table: the id of the name, interning it when new. Without
// any_case, an exact spelling wins; a spelling that matches only without
// regard to ASCII case makes a new symbol aliasing the one found. With
// any_case the first match of any case is answered.
uint32_t find_symbol(NodeId table, const char* name, size_t length, bool any_case);

// A context's words: the position of the word of `symbol`, or -1. With a
// context node, an absent word is appended (bound to that context) and
// indexed, its position written to *added, and -1 answered. With
// canonical set, ASCII-case variants of the symbol match.
int32_t find_context_word(NodeId table, uint32_t symbol, NodeId context, int32_t* added, bool canonical);

// Identity tables: the value cells of a series' entry.
Cell* put_pointer(NodeId table, NodeId key);  // made, as unset cells, when new
Cell* get_pointer(NodeId table, NodeId key);  // null when absent
void delete_pointer(NodeId table, NodeId key);
// Drops the entries whose key series is dead, or (ownership tables) whose
// owner context, held in value cell owner_cell, is dead.
void sweep_pointers(NodeId table, bool (*alive)(NodeId), int owner_cell);

// The table's cell count in the block (kinds 0 to 2: the block length).
uint32_t block_length(NodeId table);

// hash! and map! tables over the cells of their block.
// The hash of a value as a key; keys that differ only in letter case share it.
uint32_t hash_cell(const Cell* value);
// Indexes the block's cells from `start`, every cell (hash!) or every second
// one (map! keys; a repeated key keeps its first place and takes the later
// value, the later pair leaving the block).
void load_block(NodeId table, uint32_t start, uint32_t step);
// Indexes the block cell at `position`; answers the key cell indexed (for a
// map!, an equal key already indexed is answered instead and nothing added).
Cell* put(NodeId table, uint32_t position);
// The block cell matching the key under comparison code `op`, or null. A
// hash! keeps equal keys: among them the first at or after `start` whose
// distance from it is a multiple of `skip` (the last before it with
// `reverse`, the last overall with `last`).
Cell* get(NodeId table, const Cell* key, int32_t start, int32_t skip, int32_t op, bool last, bool reverse);
// map!: one probe for a key (words taken as set-words) that finds, under
// comparison code `op`, the live key, and also what an insertion needs: the
// first indexed key strictly equal to it (a removed pair comes back there)
// and the bucket a new key takes. `grows` tells that the table must grow
// before a new key goes in: `free` is then not to be used.
struct MapSlot {
    int32_t live = -1;     // block position of the live key, or -1
    int32_t strict = -1;   // block position of a strictly equal indexed key, or -1
    int64_t free = -1;     // bucket for a new key
    bool grows = false;
};
MapSlot find_map_key(NodeId table, const Cell* key, int32_t op);
// Indexes the block cell at `position` (a new key, which find_map_key found
// neither live nor strictly equal) in the bucket it answered; nothing that
// changes the table ran in between.
void put_at(NodeId table, int64_t bucket, uint32_t position);
// Takes the block cell at `position` out of the index (a map! pair is kept
// in the block with its value's header cleared).
void remove(NodeId table, uint32_t position);
void clear(NodeId table);
// A new bucket count for about `size` keys; every cell indexed again.
void rebuild(NodeId table, uint32_t size);

}  // namespace kel::hashtable
