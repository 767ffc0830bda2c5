// The lexer's first layer: every byte of the source maps to one of 40
// character classes, and a deterministic automaton over those classes cuts
// the byte stream into tokens. A token is the longest run of bytes that keeps
// the automaton in its working states (0-64); the transition that leaves them
// names a final state (66-101), and the final state is the token's kind.
// The byte that caused that transition is not part of the token.
//
// Besides its class, a byte carries flag bits (a digit separator, a colon, a
// multi-byte UTF-8 lead...); the token flags are the OR of the flags of every
// byte examined, the stopping byte included, so the routines that check a
// token know what it holds without reading it again.
//
// All tables are constant data computed at compile time.
#pragma once
#include <array>
#include <cstdint>

namespace kel::lexer {

enum Class : uint8_t {
    c_space, c_lf, c_d19, c_d0, c_lbrack, c_rbrack, c_lparen, c_rparen, c_lbrace, c_rbrace,
    c_dquote, c_hash, c_quote, c_colon, c_x, c_T, c_h, c_e, c_E, c_hexlow,
    c_hexup, c_slash, c_bslash, c_lt, c_gt, c_eq, c_pct, c_comma, c_semi, c_at,
    c_dot, c_dollar, c_plus, c_minus, c_caret, c_ctl, c_cont, c_wc, c_bad, c_end,
};
constexpr int class_count = 40;

// Token flags (bits 8-31 of a class table entry).
namespace flag {
constexpr uint32_t hash = 0x00800000;
constexpr uint32_t end = 0x00400000;
constexpr uint32_t sign = 0x00200000;
constexpr uint32_t lt = 0x00100000;
constexpr uint32_t gt = 0x00080000;
constexpr uint32_t percent = 0x00040000;
constexpr uint32_t exponent = 0x01000000;
constexpr uint32_t quote = 0x02000000;   // apostrophe: a digit separator
constexpr uint32_t colon = 0x04000000;
constexpr uint32_t comma = 0x08000000;
constexpr uint32_t dot = 0x10000000;
constexpr uint32_t caret = 0x20000000;
constexpr uint32_t utf8_2_3 = 0x40000000;  // a 2- or 3-byte UTF-8 sequence
constexpr uint32_t utf8_4 = 0x80000000;    // a 4-byte UTF-8 sequence
}  // namespace flag

// Token kinds: final state - 66.
enum Kind : uint8_t {
    k_end, k_error, k_block_open, k_block_close, k_paren_open, k_paren_close, k_curly_open, k_curly_close,
    k_map_open, k_path_open, k_construction, k_comment, k_comma, k_string, k_word, k_issue,
    k_integer, k_refinement, k_char, k_file, k_binary, k_percent, k_float, k_float_special,
    k_tuple, k_date, k_pair, k_point, k_time, k_money, k_tag, k_url, k_email, k_hex_integer,
    k_raw_string, k_ref,
};
constexpr int kind_count = 36;
constexpr int working_states = 65;
constexpr uint8_t first_final = 66;

// Start states other than 0.
constexpr uint8_t s_curly = 4;
constexpr uint8_t s_point = 35;
constexpr uint8_t s_path = 59;

extern const std::array<uint32_t, 256> char_class;  // class in bits 0-7, flags above
struct Transitions {
    uint8_t next[working_states][class_count];  // 0-64 a working state, 66-101 a final one
};
extern const Transitions transitions;
// The datatype each state (working and final, 0-101) is scanning; 0: none.
extern const std::array<uint8_t, first_final + kind_count> state_type;

// The float syntax check: digits with single apostrophes between them, an
// optional point and fraction, an optional exponent with at least one digit.
// Texts longer than 312 bytes are refused.
bool float_syntax_ok(const char* text, uint32_t n);

// The Unicode code points that end a word like an ASCII space.
bool is_unicode_space(uint32_t cp);

}  // namespace kel::lexer
