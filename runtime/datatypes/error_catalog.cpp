// The error catalog and the error prototype, made at start-up from the list
// of ids in runtime/error_ids.def, which gives each id its position and its
// message template.
#include <cstring>
#include <iterator>

#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/root.hpp"
#include "runtime/symbol.hpp"

namespace kel::error {

Cell catalog{type::none, 0, 0, 0};
Cell prototype{type::none, 0, 0, 0};

namespace {

struct Entry {
    error::Category category;
    const char* id;
    const char* message;
};

constexpr Entry entries[] = {
#define KEL_ERROR(category, name, text, message) {error::Category::category, text, message},
#include "runtime/error_ids.def"
#undef KEL_ERROR
};

struct CategoryText {
    const char* name;
    const char* text;
};

// In category order: the index of a category is its Category value.
constexpr CategoryText categories[] = {
    {"throw", "Throw Error"},
    {"note", "Note"},
    {"syntax", "Syntax Error"},
    {"script", "Script Error"},
    {"math", "Math Error"},
    {"access", "Access Error"},
    {"reserved1", "Reserved1 Error"},
    {"reserved2", "Reserved2 Error"},
    {"user", "User Error"},
    {"internal", "Internal Error"},
};
static_assert(std::size(categories) == size_t(error::Category::internal) + 1);

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
        const CategoryText& k = categories[c];
        uint32_t count = 0;
        for (const Entry& e : entries) count += size_t(e.category) == c;
        object::make_at(&category.cell, count + 2);
        category.cell.payload2 = object::next_class_id();
        NodeId ctx = category.cell.payload1;
        cell::set_integer(&value.cell, int32_t(c * 100));
        put_field(ctx, "code", &value.cell);
        string::make_from_utf8(&value.cell, k.text, std::strlen(k.text));
        put_field(ctx, "type", &value.cell);
        for (const Entry& e : entries) {
            if (size_t(e.category) != c) continue;
            make_template(&value.cell, e.message);
            put_field(ctx, e.id, &value.cell);
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
