#include "runtime/output.hpp"

#include <cstdio>
#include <cstring>

#include "runtime/ansi_console.hpp"
#include "runtime/mem.hpp"
#include "runtime/platform/host.hpp"
#include "runtime/system.hpp"
#include "runtime/unicode.hpp"

namespace kel {

namespace output {
namespace {

HookList<ValueHook> value_list;
HookList<TextHook> text_list;

template <class Hook>
void init_list(HookList<Hook>& l) {
    l.capacity = 5;
    l.count = 0;
    l.entries = static_cast<Hook*>(mem::allocate(l.capacity * sizeof(Hook)));
}

template <class Hook>
void add_hook(HookList<Hook>& l, Hook h) {
    if (!h) return;
    if (l.count == l.capacity) {
        auto* grown = static_cast<Hook*>(mem::allocate((l.capacity + 5) * sizeof(Hook)));
        if (l.count) std::memcpy(grown, l.entries, l.count * sizeof(Hook));
        mem::release(l.entries);
        l.entries = grown;
        l.capacity += 5;
    }
    l.entries[l.count++] = h;
}

template <class Hook>
void remove_hook(HookList<Hook>& l, Hook h) {
    if (!h) return;
    for (size_t i = 0; i < l.count; ++i) {
        if (l.entries[i] != h) continue;
        std::memmove(l.entries + i, l.entries + i + 1, (l.count - i - 1) * sizeof(Hook));
        --l.count;
        return;
    }
}

}  // namespace

void init_print_hooks() {
    init_list(value_list);
    init_list(text_list);
}

void register_print_hooks(ValueHook value_hook, TextHook text_hook) {
    add_hook(value_list, value_hook);
    add_hook(text_list, text_hook);
}

void unregister_print_hooks(ValueHook value_hook, TextHook text_hook) {
    remove_hook(value_list, value_hook);
    remove_hook(text_list, text_hook);
}

void run_value_hooks(const Cell* value, bool newline) {
    for (size_t i = 0; i < value_list.count; ++i) value_list.entries[i](value, newline);
}

void run_text_hooks(const char* text, size_t length, int flag) {
    for (size_t i = 0; i < text_list.count; ++i) text_list.entries[i](text, length, flag);
}

const HookList<ValueHook>& value_hooks() { return value_list; }
const HookList<TextHook>& text_hooks() { return text_list; }

}  // namespace output

namespace stdio {
namespace {

// On Windows, output before init takes the console path.
bool console = os::windows;
constexpr const char* line_end = os::line_end;

// The console writer flushes at 510 units so that a surrogate pair always fits.
char16_t console_buffer[512];
size_t console_used = 0;
char utf8_buffer[1024];
size_t utf8_used = 0;

uint32_t unit_at(const uint8_t* p, int unit) {
    switch (unit) {
        case 1: return p[0];
        case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
        default: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
}

void flush_console() {
    if (console_used && ansi_console::device) ansi_console::device->write(console_buffer, console_used);
    console_used = 0;
}

void put_console(uint32_t c) {
    if (c > 0xFFFF && c <= 0x10FFFF) {
        console_buffer[console_used++] = char16_t(0xD800 + ((c - 0x10000) >> 10));
        console_buffer[console_used++] = char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
        console_buffer[console_used++] = char16_t(c > 0xFFFF ? 0xFFFD : c);
    }
    if (console_used >= 510) flush_console();
}

void flush_utf8() {
    if (utf8_used) os::write_stdout(utf8_buffer, utf8_used);
    utf8_used = 0;
}

void put_utf8(uint32_t c) {
    utf8_used += size_t(unicode::encode_utf8_replacing(c, utf8_buffer + utf8_used));
    if (utf8_used > 1020) flush_utf8();
}

bool valid_unit(int unit) { return unit == 1 || unit == 2 || unit == 4; }

// Diagnostic text: written out and handed to the text hooks as it is.
void emit(const char* text, size_t n) {
    write(text, n, 1, false);
    output::run_text_hooks(text, n, 0);
}

}  // namespace

void init() { console = os::stdout_is_console(); }

bool console_flag() { return console; }

void write(const void* text, size_t length, int unit, bool newline) {
    if (console) write_console(text, length, unit, newline);
    else write_utf8(text, length, unit, newline);
}

void write_console(const void* text, size_t length, int unit, bool newline) {
    if (!valid_unit(unit)) sys::quit(101, KEL_CALLER_ADDRESS());
    const auto* p = static_cast<const uint8_t*>(text);
    size_t n = length / size_t(unit);
    for (size_t i = 0; i < n; ++i) {
        uint32_t c = unit_at(p + i * size_t(unit), unit);
        if (c == 27) {
            flush_console();
            size_t used = ansi_console::ansi_escape(p + i * size_t(unit), length - i * size_t(unit), unit);
            if (used) {
                i += used / size_t(unit) - 1;
                continue;
            }
        }
        put_console(c);
    }
    if (newline) {
        put_console('\r');
        put_console('\n');
    }
    flush_console();
}

void write_utf8(const void* text, size_t length, int unit, bool newline) {
    if (!valid_unit(unit)) sys::quit(101, KEL_CALLER_ADDRESS());
    const auto* p = static_cast<const uint8_t*>(text);
    size_t n = length / size_t(unit);
    for (size_t i = 0; i < n; ++i) put_utf8(unit_at(p + i * size_t(unit), unit));
    if (newline)
        for (const char* e = line_end; *e; ++e) put_utf8(uint8_t(*e));
    flush_utf8();
}

void print_latin1(const char* text, size_t length) { write(text, length, 1, false); }
void print_latin1_line(const char* text, size_t length) { write(text, length, 1, true); }
void print_ucs2(const char16_t* text, size_t length) { write(text, length * 2, 2, false); }
void print_ucs2_line(const char16_t* text, size_t length) { write(text, length * 2, 2, true); }
void print_utf32(const char32_t* text, size_t length) { write(text, length * 4, 4, false); }
void print_utf32_line(const char32_t* text, size_t length) { write(text, length * 4, 4, true); }

const char* print_cstr(const char* text) {
    size_t n = std::strlen(text);
    if (console) write_console(text, n, 1, false);
    else os::write_stdout(text, n);
    output::run_text_hooks(text, n, 0);
    return text;
}

namespace {
template <class... Args>
void print_formatted(const char* format, Args... args) {
    char scratch[64];
    int n = std::snprintf(scratch, sizeof scratch, format, args...);
    if (n > 0) emit(scratch, size_t(n) < sizeof scratch ? size_t(n) : sizeof scratch - 1);
}
}  // namespace

int64_t print_int(int64_t v) { print_formatted("%lld", static_cast<long long>(v)); return v; }
uint32_t print_hex2(uint32_t v) { print_formatted("%02X", v); return v; }
uint32_t print_hex8(uint32_t v) { print_formatted("%08X", v); return v; }
double print_float64(double v) { print_formatted("%.16g", v); return v; }
float print_float32(float v) { print_formatted("%.7g", double(v)); return v; }

}  // namespace stdio

namespace sysrt {
namespace {

// Prints one item; answers the last byte it printed (0 when it printed nothing).
char print_item(const TypedPrintItem& item) {
    char text[64];
    const char* s = text;
    size_t n = 0;
    switch (item.type) {
        case TypedPrintItem::logic: s = item.i ? "true" : "false"; n = std::strlen(s); break;
        case TypedPrintItem::integer_: n = size_t(std::snprintf(text, sizeof text, "%lld", static_cast<long long>(item.i))); break;
        case TypedPrintItem::byte_: text[0] = char(item.i); n = 1; break;
        case TypedPrintItem::float32: n = size_t(std::snprintf(text, sizeof text, "%.7g", item.d)); break;
        case TypedPrintItem::float64: n = size_t(std::snprintf(text, sizeof text, "%.16g", item.d)); break;
        case TypedPrintItem::cstring: s = item.s ? item.s : ""; n = std::strlen(s); break;
        default: n = size_t(std::snprintf(text, sizeof text, "%08llX", static_cast<unsigned long long>(item.word))); break;
    }
    if (n == 0) return 0;
    stdio::write(s, n, 1, false);
    output::run_text_hooks(s, n, 0);
    return s[n - 1];
}

void print_list(PrintList items, bool spaced, bool line) {
    size_t left = items.size();
    for (const TypedPrintItem& item : items) {
        char last = print_item(item);
        --left;
        if (spaced && left && last != ' ' && last != '\n' && last != '\r' && last != '\t')
            print_bytes(" ", 1);
    }
    if (line) {
        stdio::write(nullptr, 0, 1, true);
        output::run_text_hooks("\n", 1, 0);
    }
    std::fflush(nullptr);
}

}  // namespace

void print_spaced(PrintList items) { print_list(items, true, false); }
void print(PrintList items) { print_list(items, false, false); }
void print_line(PrintList items) { print_list(items, false, true); }

void print_byte(uint8_t b) {
    char c = char(b);
    print_bytes(&c, 1);
}

const char* print_bytes(const char* text, size_t n) {
    size_t len = 0;
    while (len < n && text[len]) ++len;
    stdio::write(text, len, 1, false);
    output::run_text_hooks(text, len, 0);
    return text;
}

void print_char_literal(uint8_t b) {
    char text[16] = "#\"";
    size_t n = 2;
    switch (b) {
        case 0: std::memcpy(text + n, "^@", 2); n += 2; break;
        case 9: std::memcpy(text + n, "^-", 2); n += 2; break;
        case 10: std::memcpy(text + n, "^/", 2); n += 2; break;
        case 27: std::memcpy(text + n, "^]", 2); n += 2; break;
        default:
            if (b < 32) {
                text[n++] = '^';
                text[n++] = char(64 + b);
            } else if (b < 128) {
                text[n++] = char(b);
            } else {
                n += size_t(std::snprintf(text + n, sizeof text - n, "^(%02X)", b));
            }
    }
    text[n++] = '"';
    print_bytes(text, n);
}

}  // namespace sysrt
}  // namespace kel
