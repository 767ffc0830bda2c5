// The lowest output layer: writers of text of any unit width (1, 2 or 4 bytes
// per character) to standard output, the print-hook lists through which the
// GUI console receives everything printed, and the typed print list used by
// the runtime's own diagnostics.
//
// When standard output is a console (Windows only), text goes out as UTF-16
// through the console device, which interprets ANSI escapes itself; otherwise
// it goes out as UTF-8 bytes. Line ends are CR LF on Windows and LF on POSIX.
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace kel {

struct Cell;

namespace output {

using ValueHook = void (*)(const Cell* value, bool newline);
using TextHook = void (*)(const char* text, size_t length, int flag);

template <class Hook>
struct HookList {
    Hook* entries = nullptr;
    size_t count = 0;
    size_t capacity = 0;
};

void init_print_hooks();
// Null arguments are skipped. A full list grows by 5 entries.
void register_print_hooks(ValueHook value_hook, TextHook text_hook);
// Removes the first equal entry of each non-null argument.
void unregister_print_hooks(ValueHook value_hook, TextHook text_hook);
void run_value_hooks(const Cell* value, bool newline);
void run_text_hooks(const char* text, size_t length, int flag);
const HookList<ValueHook>& value_hooks();
const HookList<TextHook>& text_hooks();

}  // namespace output

namespace stdio {

void init();
bool console_flag();

// length is in bytes; unit is 1, 2 or 4 (little-endian code units).
void write(const void* text, size_t length, int unit, bool newline);
// The two writers that write() chooses between.
void write_console(const void* text, size_t length, int unit, bool newline);
void write_utf8(const void* text, size_t length, int unit, bool newline);

void print_latin1(const char* text, size_t length);
void print_latin1_line(const char* text, size_t length);
void print_ucs2(const char16_t* text, size_t length);
void print_ucs2_line(const char16_t* text, size_t length);
void print_utf32(const char32_t* text, size_t length);
void print_utf32_line(const char32_t* text, size_t length);
const char* print_cstr(const char* text);

int64_t print_int(int64_t v);
uint32_t print_hex2(uint32_t v);
uint32_t print_hex8(uint32_t v);
double print_float64(double v);
float print_float32(float v);

}  // namespace stdio

// One item of a typed print list.
struct TypedPrintItem {
    enum Type : uint32_t { logic = 1, integer_ = 2, byte_ = 3, float32 = 4, float64 = 5, cstring = 6 };
    uint32_t type;
    union {
        int64_t i;
        double d;
        const char* s;
        uint64_t word;
    };

    static TypedPrintItem text(const char* s) { TypedPrintItem t{cstring, {}}; t.s = s; return t; }
    static TypedPrintItem integer(int64_t v) { TypedPrintItem t{integer_, {}}; t.i = v; return t; }
    static TypedPrintItem byte(char c) { TypedPrintItem t{byte_, {}}; t.i = uint8_t(c); return t; }
    static TypedPrintItem boolean(bool b) { TypedPrintItem t{logic, {}}; t.i = b; return t; }
    static TypedPrintItem real(double v) { TypedPrintItem t{float64, {}}; t.d = v; return t; }
    static TypedPrintItem real32(float v) { TypedPrintItem t{float32, {}}; t.d = v; return t; }
    static TypedPrintItem hex(uint64_t v) { TypedPrintItem t{0, {}}; t.word = v; return t; }
};

namespace sysrt {

using PrintList = std::initializer_list<TypedPrintItem>;

void print_spaced(PrintList items);  // one space between items
void print(PrintList items);
void print_line(PrintList items);
void print_byte(uint8_t b);
const char* print_bytes(const char* text, size_t n);
void print_char_literal(uint8_t b);

}  // namespace sysrt

namespace os {
void write_stdout(const char* bytes, size_t n);
void write_stderr(const char* bytes, size_t n);
bool stdout_is_console();
}  // namespace os

}  // namespace kel
