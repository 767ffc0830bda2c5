// The error catalog and the error prototype, made at start-up.
//
// Positions matter: an error's code is derived from its id's position in its
// category, and runtime code refers to some ids by that position. A template
// is written here as text: pieces separated by '|', a piece ":argN" naming a
// field of the error; a text without '|' or ':' is a plain string!.
#include <cstring>
#include <iterator>

#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/root.hpp"
#include "runtime/symbol.hpp"

namespace kel::error {

Cell catalog{type::none, 0, 0, 0};
Cell prototype{type::none, 0, 0, 0};

namespace {

struct Entry {
    const char* id;
    const char* message;
};

struct Category {
    const char* name;
    const char* text;
    const Entry* entries;
    size_t count;
};

constexpr Entry throw_ids[] = {
    {"break", "no loop to break"},
    {"return", "return or exit not in function"},
    {"throw", "no catch for throw:|:arg1"},
    {"continue", "no loop to continue"},
    {"while-cond", "BREAK/CONTINUE cannot be used in WHILE condition block"},
};

constexpr Entry note_ids[] = {
    {"no-load", "cannot load:|:arg1"},
};

constexpr Entry syntax_ids[] = {
    {"invalid", "invalid|:arg1|at|:arg2"},
    {"missing", "missing|:arg2|at|:arg1"},
    {"no-header", "script is missing a Kel header:|:arg1"},
    {"malconstruct", "invalid construction spec at|:arg1"},
};

// Positions from 2; the comments mark the ones runtime code relies on.
constexpr Entry script_ids[] = {
    {"no-value", ":arg1|has no value"},  // 2
    {"need-value", ":arg1|needs a value"},
    {"not-defined", ":arg1|word is not bound to a context"},  // 4
    {"not-in-context", "context for|:arg1|is not available"},
    {"no-arg", ":arg1|is missing its|:arg2|argument"},
    {"expect-arg", ":arg1|does not allow|:arg2|for its|:arg3|argument"},  // 7
    {"expect-val", "expected|:arg1|not|:arg2"},
    {"expect-type", ":arg1|:arg2|field must be of type|:arg3"},
    {"cannot-use", "cannot use|:arg1|on|:arg2|value"},
    {"invalid-arg", "invalid argument:|:arg1"},
    {"invalid-type", ":arg1|type is not allowed here"},
    {"invalid-type-spec", "invalid type specifier:|:arg1"},
    {"invalid-op", "invalid operator:|:arg1"},
    {"no-op-arg", "operator is missing an argument"},
    {"bad-op-spec", "making an op! requires a function with only 2 arguments and no lit/get-word on left argument"},
    {"no-return", "block did not return a value"},
    {"invalid-data", "data not in correct format:|:arg1"},  // 18
    {"invalid-part", "invalid /part count:|:arg1"},
    {"not-same-type", "values must be of the same type"},
    {"not-related", "incompatible argument for|:arg1|of|:arg2"},
    {"bad-func-def", "invalid function definition:|:arg1"},
    {"bad-func-arg", "function argument|:arg1|is not valid"},
    {"bad-func-extern", "invalid /extern value:|:arg1"},
    {"no-refine", ":arg1|has no refinement called|:arg2"},
    {"bad-refines", "incompatible or invalid refinements"},
    {"bad-refine", "incompatible refinement:|:arg1"},
    {"dup-refine", "duplicate refinement usage in:|:arg1"},
    {"word-first", "path must start with a word:|:arg1"},
    {"empty-path", "cannot evaluate an empty path value"},
    {"unset-path", ":arg2|is unset in path|:arg1"},
    {"invalid-path-set", "unsupported type in|:arg1|set-path"},
    {"invalid-path", "cannot access|:arg2|in path|:arg1"},  // 33
    {"invalid-path-get", "unsupported type in|:arg1|get-path"},
    {"bad-path-type", "path|:arg1|is not valid for|:arg2|type"},
    {"bad-path-type2", "path element >|:arg1|< does not apply to|:arg2|type"},
    {"bad-path-set", "cannot set|:arg1|in path|:arg2"},
    {"bad-field-set", "cannot set|:arg1|field to|:arg2|datatype"},
    {"dup-vars", "duplicate variable specified:|:arg1"},
    {"past-end", "out of range or past end"},
    {"missing-arg", "missing a required argument or refinement"},
    {"too-long", "Content too long"},
    {"out-of-range", "value out of range:|:arg1"},  // 43
    {"invalid-chars", "contains invalid characters"},
    {"invalid-char", "invalid character:|:arg1"},
    {"invalid-compare", "cannot compare|:arg1|with|:arg2"},
    {"type-limit", ":arg1|overflow/underflow"},
    {"wrong-denom", ":arg1|not same denomination as|:arg2"},
    {"bad-loop-series", "loop series changed to invalid value:|:arg1"},
    {"invalid-refine-arg", "invalid|:arg1|argument:|:arg2"},
    {"invalid-key-type", "invalid key type:|:arg1"},
    {"invalid-obj-evt", "invalid object event handler:|:arg1"},
    {"invalid-spec-field", "invalid|:arg1|field in spec block"},
    {"move-bad", "Cannot MOVE elements from|:arg1|to|:arg2"},
    {"bad-make-arg", "cannot MAKE|:arg1|from:|:arg2"},  // 55
    {"bad-to-arg", "cannot MAKE/TO|:arg1|from:|:arg2"},
    {"protected", "protected value or series - cannot modify"},
    {"face-type", "VIEW - invalid face type:|:arg1"},
    {"not-window", "VIEW - expected a window root face"},
    {"bad-window", "VIEW - a window face cannot be nested in another window"},
    {"not-linked", "VIEW - face not linked to a window"},
    {"not-event-type", "VIEW - not a valid event type|:arg1"},
    {"invalid-facet-type", "VIEW - invalid rate value:|:arg1"},
    {"vld-invalid-syntax", "VLD - invalid syntax at:|:arg1"},
    {"rtd-invalid-syntax", "RTD - invalid syntax at:|:arg1"},
    {"rtd-no-match", "RTD - opening/closing tag not matching for:|:arg1"},
    {"parse-rule", "PARSE - invalid rule or usage of rule:|:arg1"},  // 67
    {"parse-end", "PARSE - unexpected end of rule after:|:arg1"},
    {"parse-invalid-ref", "PARSE - get-word refers to a different series!|:arg1"},
    {"parse-block", "PARSE - input must be of any-block! type:|:arg1"},
    {"parse-unsupported", "PARSE - matching by datatype not supported for any-string! input"},
    {"parse-infinite", "PARSE - infinite recursion at rule: [|:arg1|]"},
    {"parse-stack", "PARSE - stack limit reached"},
    {"parse-keep", "PARSE - KEEP is used without a wrapping COLLECT"},
    {"parse-into-bad", "PARSE - COLLECT INTO/AFTER invalid series! argument"},
    {"parse-into-type", "PARSE - COLLECT INTO/AFTER expects a series! of compatible datatype"},  // 76
    {"invalid-data-facet", "invalid DATA facet content|:arg1"},
    {"not-same-class", "cannot coerce|:arg1|to|:arg2"},
    {"bad-denom", "invalid denomination:|:arg1"},
    {"rb-invalid-record", "KELBIN - invalid record at index|:arg1"},
};

constexpr Entry math_ids[] = {
    {"zero-divide", "attempt to divide by zero"},  // 2
    {"overflow", "math or number overflow"},
    {"positive", "positive number required"},
};

constexpr Entry access_ids[] = {
    {"cannot-open", "cannot open:|:arg1"},
    {"invalid-utf8", "invalid UTF-8 encoding:|:arg1"},
    {"no-connect", "cannot connect:|:arg1"},
    {"no-scheme", "missing port scheme:|:arg1"},
    {"unknown-scheme", "scheme is unknown:|:arg1"},
    {"invalid-port", "invalid port object (invalid field values)"},
    {"invalid-actor", "invalid port actor (must be handle or object)"},
    {"no-port-action", "port action not supported"},
    {"no-codec", "cannot decode or encode (no codec):|:arg1"},
    {"not-open", "port is not open:|:arg1"},
    {"no-delete", "cannot delete:|:arg1"},
    {"no-create", "cannot create:|:arg1"},  // 13
};

constexpr Entry user_ids[] = {
    {"message", ":arg1"},
};

constexpr Entry internal_ids[] = {
    {"bad-path", "bad path:|:arg1"},
    {"not-here", ":arg1|not supported on your system"},
    {"no-memory", "not enough memory"},  // 4
    {"wrong-mem", "failed to release memory"},
    {"stack-overflow", "stack overflow"},
    {"no-cycle", "circular reference not allowed"},
    {"too-deep", "block or paren series is too deep to process"},  // 8
    {"feature-na", "feature not available"},
    {"not-done", "reserved for future use (or not yet implemented)"},
    {"invalid-error", "invalid error object field value:|:arg1"},
    {"routines", "routines require compilation, from OS shell: `kel -r <script.kel>`"},
    {"kel-system", "contains Kel/System code which requires compilation"},
    {"deprecated", ":arg1|is deprecated, use|:arg2|instead"},
};

constexpr Category categories[] = {
    {"throw", "Throw Error", throw_ids, std::size(throw_ids)},
    {"note", "Note", note_ids, std::size(note_ids)},
    {"syntax", "Syntax Error", syntax_ids, std::size(syntax_ids)},
    {"script", "Script Error", script_ids, std::size(script_ids)},
    {"math", "Math Error", math_ids, std::size(math_ids)},
    {"access", "Access Error", access_ids, std::size(access_ids)},
    {"reserved1", "Reserved1 Error", nullptr, 0},
    {"reserved2", "Reserved2 Error", nullptr, 0},
    {"user", "User Error", user_ids, std::size(user_ids)},
    {"internal", "Internal Error", internal_ids, std::size(internal_ids)},
};

Cell word_named(const char* name) { return Cell{type::word, 0, symbol::make(name), uint32_t(-1)}; }

void put_field(NodeId ctx, const char* name, const Cell* value) {
    Cell w = word_named(name);
    context::put_value(ctx, &w, value);
}

// The template of a message text, into the root cell.
void make_template(Cell* out, const char* text) {
    if (!std::strchr(text, '|') && text[0] != ':') {
        string::make_from_utf8(out, text, std::strlen(text));
        return;
    }
    block::make_at(out, 6);
    collector::RootCell piece;
    for (const char* p = text;;) {
        const char* end = std::strchr(p, '|');
        size_t n = end ? size_t(end - p) : std::strlen(p);
        if (p[0] == ':') {
            piece.cell = Cell{type::get_word, 0, symbol::make_len(p + 1, n - 1), uint32_t(-1)};
        } else {
            string::make_from_utf8(&piece.cell, p, n);
        }
        block::ks_append(out, &piece.cell);
        if (!end) break;
        p = end + 1;
    }
}

}  // namespace

bool catalog_ready() { return cell::is(&catalog, type::object); }

NodeId category_context(uint32_t index) {
    if (!catalog_ready() || index >= context::word_count(catalog.payload1)) return 0;
    const Cell* c = object::value_at(catalog.payload1, index);
    return cell::is(c, type::object) ? c->payload1 : 0;
}

void init_catalog() {
    catalog = Cell{type::none, 0, 0, 0};
    prototype = Cell{type::none, 0, 0, 0};
    collector::RootCell all, category, value;
    object::make_at(&all.cell, std::size(categories));
    all.cell.payload2 = object::next_class_id();
    for (size_t c = 0; c < std::size(categories); ++c) {
        const Category& k = categories[c];
        object::make_at(&category.cell, uint32_t(k.count + 2));
        category.cell.payload2 = object::next_class_id();
        NodeId ctx = category.cell.payload1;
        cell::set_integer(&value.cell, int32_t(c * 100));
        put_field(ctx, "code", &value.cell);
        string::make_from_utf8(&value.cell, k.text, std::strlen(k.text));
        put_field(ctx, "type", &value.cell);
        for (size_t i = 0; i < k.count; ++i) {
            make_template(&value.cell, k.entries[i].message);
            put_field(ctx, k.entries[i].id, &value.cell);
        }
        *context::owner_cell(ctx) = category.cell;
        put_field(all.cell.payload1, k.name, &category.cell);
    }
    *context::owner_cell(all.cell.payload1) = all.cell;

    collector::RootCell proto;
    object::make_at(&proto.cell, field::count, type::error);
    proto.cell.payload2 = class_id;
    static const char* const names[] = {"code", "type", "id", "arg1", "arg2", "arg3", "near", "where", "stack", "files"};
    cell::set_none(&value.cell);
    for (const char* name : names) put_field(proto.cell.payload1, name, &value.cell);
    *context::owner_cell(proto.cell.payload1) = proto.cell;

    // Both live for the whole run.
    root::record(&all.cell);
    root::record(&proto.cell);
    catalog = all.cell;
    prototype = proto.cell;
}

}  // namespace kel::error
