#include "runtime/lexer/classes.hpp"

#include <string_view>

#include "runtime/cell.hpp"

namespace kel::lexer {
namespace {

constexpr uint32_t entry(Class c, uint32_t flags = 0) { return c | flags; }

constexpr std::array<uint32_t, 256> make_classes() {
    std::array<uint32_t, 256> t{};
    for (int b = 0x01; b < 0x20; ++b) t[b] = entry(c_ctl);
    t[0x00] = entry(c_end, flag::end);
    t['\t'] = t['\r'] = t[' '] = entry(c_space);
    t['\n'] = entry(c_lf);
    for (int b = '1'; b <= '9'; ++b) t[b] = entry(c_d19);
    t['0'] = entry(c_d0);
    t['['] = entry(c_lbrack);
    t[']'] = entry(c_rbrack);
    t['('] = entry(c_lparen);
    t[')'] = entry(c_rparen);
    t['{'] = entry(c_lbrace);
    t['}'] = entry(c_rbrace);
    t['"'] = entry(c_dquote);
    t['#'] = entry(c_hash, flag::hash);
    t['\''] = entry(c_quote, flag::quote);
    t[':'] = entry(c_colon, flag::colon);
    // Word characters first; the letters with a class of their own follow.
    for (int b = 'A'; b <= 'Z'; ++b) t[b] = entry(c_wc);
    for (int b = 'a'; b <= 'z'; ++b) t[b] = entry(c_wc);
    for (char b : std::string_view("!&*?_`|~")) t[uint8_t(b)] = entry(c_wc);
    t['x'] = t['X'] = entry(c_x);
    t['T'] = entry(c_T);
    t['h'] = entry(c_h);
    t['e'] = entry(c_e, flag::exponent);
    t['E'] = entry(c_E, flag::exponent);
    for (char b : std::string_view("abcdf")) t[uint8_t(b)] = entry(c_hexlow);
    for (char b : std::string_view("ABCDF")) t[uint8_t(b)] = entry(c_hexup);
    t['/'] = entry(c_slash);
    t['\\'] = entry(c_bslash);
    t['<'] = entry(c_lt, flag::lt);
    t['>'] = entry(c_gt, flag::gt);
    t['='] = entry(c_eq);
    t['%'] = entry(c_pct, flag::percent);
    t[','] = entry(c_comma, flag::comma);
    t[';'] = entry(c_semi);
    t['@'] = entry(c_at);
    t['.'] = entry(c_dot, flag::dot);
    t['$'] = entry(c_dollar);
    t['+'] = entry(c_plus, flag::sign);
    t['-'] = entry(c_minus, flag::sign);
    t['^'] = entry(c_caret, flag::caret);
    for (int b = 0x7F; b <= 0xBF; ++b) t[b] = entry(c_cont);
    for (int b = 0xC2; b <= 0xEF; ++b) t[b] = entry(c_wc, flag::utf8_2_3);
    for (int b = 0xF0; b <= 0xF7; ++b) t[b] = entry(c_wc, flag::utf8_4);
    t[0xC0] = t[0xC1] = entry(c_bad);
    for (int b = 0xF8; b <= 0xFF; ++b) t[b] = entry(c_bad);
    return t;
}

// The automaton, one row per working state, in the notation "default" and
// "classes -> target; ..." where a target is a working state or Kn, the final
// state of token kind n.
struct Row {
    int state;
    const char* fallback;
    const char* rules;
};

constexpr Row rows[] = {
    {0, "52", "space lf ctl -> 0; semi -> 1; dquote -> 2; pct -> 6; slash -> 13; hash -> 16; d19 d0 -> 23; dollar -> 36; E hexup -> 40; lt -> 43; plus minus -> 47; dot -> 49; quote colon -> 51; at -> 57; eq -> 58; end -> K0; rbrace bslash cont bad -> K1; lbrack -> K2; rbrack -> K3; lparen -> K4; rparen -> K5; lbrace -> K6; comma -> K12"},  // between tokens
    {1, "1", "bad -> K1; lf end -> K11"},  // comment
    {2, "2", "caret -> 3; lf bad end -> K1; dquote -> K13"},  // string
    {3, "2", "bad end -> K1"},  // string escape
    {4, "4", "caret -> 5; bad end -> K1; lbrace -> K6; rbrace -> K7"},  // curly string
    {5, "4", "bad end -> K1"},  // curly string escape
    {6, "7", "dquote -> 8; pct -> 9; lbrace -> 10; colon -> 54; bad -> K1; space lf lbrack rbrack lparen rparen rbrace semi at ctl end -> K14"},  // after %
    {7, "7", "dquote bad -> K1; space lf lbrack rbrack lparen rparen lbrace rbrace colon semi at end -> K19"},  // file
    {8, "8", "lf bad end -> K1; dquote -> K19"},  // quoted file
    {9, "7", "pct -> 9; lbrace -> 10; bad -> K1; space lf lbrack rbrack lparen rparen rbrace dquote bslash semi ctl end -> K14"},  // after %%
    {10, "10", "rbrace -> 11; bad end -> K1"},  // raw string body
    {11, "10", "rbrace -> 11; pct -> 12; bad end -> K1"},  // raw string closing braces
    {12, "K1", "pct -> 12; space lf lbrack rbrack lparen rparen lbrace dquote lt semi ctl end -> K34"},  // raw string closing percents
    {13, "14", "slash -> 15; colon -> 53; comma bad -> K1; space lf lbrack rbrack lparen rparen lbrace rbrace dquote hash semi at ctl end -> K14"},  // after /
    {14, "14", "colon comma bad -> K1; space lf lbrack rbrack lparen rparen lbrace rbrace dquote slash semi at ctl end -> K17"},  // refinement
    {15, "52", "slash -> 15; pct comma dollar bad -> K1; space lf lbrack rbrack lparen rparen lbrace rbrace dquote hash semi at ctl end -> K14"},  // slash word
    {16, "22", "lbrace -> 17; dquote -> 19; lparen -> 21; space lf rbrack rparen rbrace colon lt gt comma bad -> K1; lbrack -> K8; semi at ctl end -> K15"},  // after #
    {17, "K1", "space lf d19 d0 x T h e E hexlow hexup slash eq plus wc -> 17; semi -> 18; rbrace -> K20"},  // binary body
    {18, "18", "lf -> 17; bad end -> K1"},  // binary comment
    {19, "19", "caret -> 20; bad end -> K1; dquote -> K18"},  // char
    {20, "19", "bad end -> K1"},  // char escape
    {21, "21", "bad end -> K1; rparen -> K10"},  // construction
    {22, "22", "colon slash bad -> K1; space lf lbrack rbrack lparen rparen lbrace rbrace dquote semi at ctl end -> K15"},  // issue
    {23, "K16", "hash -> 16; d19 d0 quote -> 23; dot -> 24; e -> 26; E -> 27; T slash minus -> 30; colon -> 31; x -> 33; hexup -> 39; h -> 42; at -> 56; hexlow bslash gt eq dollar plus caret cont wc bad -> K1; pct -> K21"},  // integer
    {24, "K1", "d19 d0 quote -> 25; e E -> 26; hash -> 28; x -> 33; pct -> K21; space lf lbrack rbrack lparen rparen lbrace rbrace dquote slash lt comma semi ctl end -> K22"},  // digits then .
    {25, "K22", "d19 d0 quote -> 25; e E -> 26; dot -> 29; x -> 33; at -> 56; hash T h hexlow hexup bslash gt eq dollar plus minus caret cont wc bad -> K1; pct -> K21"},  // fraction
    {26, "K1", "d19 d0 plus minus -> 26; at -> 56; space lf lbrack rbrack lparen rparen lbrace rbrace dquote colon slash lt comma semi ctl end -> K22"},  // exponent
    {27, "K22", "plus minus -> 26; d19 d0 -> 27; dot -> 29; E hexup -> 40; h -> 42; at -> 56; hash quote x T e hexlow bslash gt eq semi dollar caret cont wc bad -> K1; pct -> K21"},  // digits then E
    {28, "K23", "x T h e E hexlow hexup gt eq dot plus minus cont wc -> 28; hash quote colon pct at dollar caret bad -> K1; d19 -> K22"},  // digits . #
    {29, "K1", "d19 d0 dot -> 29; space lf lbrack rbrack lparen rparen lbrace rbrace dquote colon slash lt semi ctl end -> K24"},  // tuple
    {30, "30", "pct comma at caret cont bad -> K1; space lf lbrack rbrack lparen rparen lbrace rbrace dquote lt semi dollar ctl end -> K25"},  // date
    {31, "K1", "d19 d0 -> 32"},  // digits then :
    {32, "K1", "d19 d0 colon dot -> 32; space lf lbrack rbrack lparen rparen lbrace rbrace dquote slash lt semi ctl end -> K28"},  // time
    {33, "K1", "d19 d0 plus minus -> 34; at -> 56"},  // digits then x
    {34, "K1", "d19 d0 e E dot -> 34; at -> 56; space lf lbrack rbrack lparen rparen lbrace rbrace dquote colon slash lt semi ctl end -> K26"},  // pair
    {35, "K1", "space d19 d0 rbrack hash e E hexlow hexup comma dot plus minus wc -> 35; rparen -> K27"},  // point (entered from a parenthesis)
    {36, "K1", "d19 d0 -> 37"},  // after $
    {37, "K1", "d19 d0 quote -> 37; dot -> 38; space lf lbrack rbrack lparen rparen lbrace rbrace dquote hash colon slash lt semi ctl end -> K29"},  // money
    {38, "K1", "d19 d0 quote -> 38; space lf lbrack rbrack lparen rparen lbrace rbrace dquote hash colon slash lt semi ctl end -> K29"},  // money fraction
    {39, "K1", "d19 d0 E hexup -> 39; h -> 41; at -> 56"},  // hex digits
    {40, "K14", "dollar -> 37; d19 d0 E hexup -> 40; h -> 41; quote x T e hexlow lt gt eq dot plus minus caret cont wc -> 52; colon -> 53; at -> 56; pct comma bad -> K1; slash -> K9"},  // upper-case hex letter start
    {41, "52", "dollar -> 37; colon -> 53; at -> 56; hash pct comma bad -> K1; slash -> K9; space lf lbrack rbrack lparen rparen lbrace rbrace dquote bslash semi ctl end -> K33"},  // hex then h
    {42, "K1", "dollar -> 37; at -> 56; slash -> K9; space lf lbrack rbrack lparen rparen lbrace rbrace dquote bslash lt semi ctl end -> K33"},  // digits then h
    {43, "44", "lt -> 43; quote -> 46; gt eq minus -> 52; colon -> 53; bad -> K1; space lf lbrack rbrack lparen rparen lbrace rbrace dquote semi ctl end -> K14"},  // after <
    {44, "44", "dquote -> 45; quote -> 46; bad end -> K1; gt -> K30"},  // tag
    {45, "45", "dquote -> 44; bad end -> K1"},  // tag, double-quoted part
    {46, "46", "quote -> 44; bad end -> K1"},  // tag, single-quoted part
    {47, "52", "d19 d0 -> 23; dollar -> 37; dot -> 49; quote pct caret bad -> K1; slash -> K9; space lf lbrack rbrack lparen rparen lbrace rbrace dquote hash bslash semi ctl end -> K14"},  // after sign
    {48, "52", "quote pct dollar caret bad -> K1; slash -> K9; space lf lbrack rbrack lparen rparen lbrace rbrace dquote hash bslash semi ctl end -> K14"},  // after quote or colon and sign
    {49, "52", "d19 d0 plus minus -> 50; colon -> 53; at -> 56; pct comma dollar bad -> K1; slash -> K9; space lf lbrack rbrack lparen rparen lbrace rbrace dquote hash bslash semi ctl end -> K14"},  // after leading dot
    {50, "K1", "x -> 33; d19 d0 e E plus minus -> 50; at -> 56; pct -> K21; space lf lbrack rbrack lparen rparen lbrace rbrace dquote colon slash lt ctl end -> K22"},  // fraction after leading dot
    {51, "K1", "slash -> 13; lt -> 43; plus minus -> 48; x T h e E hexlow hexup gt dot caret cont wc -> 52; pct -> 54; eq -> 58"},  // after quote or colon
    {52, "52", "dollar -> 36; colon -> 53; at -> 56; pct comma bad -> K1; slash -> K9; space lf lbrack rbrack lparen rparen lbrace rbrace dquote hash bslash lt semi ctl end -> K14"},  // word
    {53, "55", "lt bad -> K1; space lf lbrack rbrack lparen rparen lbrace rbrace dquote bslash semi ctl end -> K14"},  // word then colon
    {54, "K1", "pct -> 54; space lf lbrack rbrack lparen rparen lbrace rbrace bslash semi ctl end -> K14"},  // scheme-like (percent then colon)
    {55, "55", "gt caret bad -> K1; space lf lbrack rbrack lparen rparen lbrace rbrace dquote bslash lt semi ctl end -> K31"},  // url
    {56, "K32", "d19 d0 x T h e E hexlow hexup pct dot plus minus cont wc -> 56; hash quote colon gt eq comma at dollar caret bad -> K1"},  // email
    {57, "57", "hash quote bslash gt eq comma at dollar caret bad -> K1; space lf lbrack rbrack lparen rparen lbrace rbrace dquote lt semi ctl end -> K35"},  // ref
    {58, "52", "hash pct comma at dollar bad -> K1; slash -> K9; space lf lbrack rbrack lparen rparen lbrace rbrace dquote colon bslash semi ctl end -> K14"},  // after =
    {59, "K1", "dquote -> 2; dollar -> 36; lt -> 43; at -> 57; d19 d0 -> 60; quote colon -> 61; x T h e E hexlow hexup gt eq dot cont wc -> 62; hash -> 63; plus minus -> 64; lparen -> K4; rparen -> K5"},  // path element start (entered after /)
    {60, "K1", "dot -> 24; e E -> 26; x -> 33; at -> 56; d19 d0 quote -> 60; space lf lbrack rbrack lparen rparen lbrace rbrace dquote colon slash lt semi ctl end -> K16; pct -> K21"},  // path integer
    {61, "K1", "x T h e E hexlow hexup lt gt eq dot plus minus cont wc -> 62"},  // path element after quote or colon
    {62, "62", "dollar -> 36; at -> 56; hash pct comma bad -> K1; space lf lbrack rbrack lparen rparen lbrace rbrace dquote colon slash bslash semi ctl end -> K14"},  // path word
    {63, "22", "dquote -> 19; lparen -> 21; space lf lbrack rbrack rparen lbrace rbrace colon slash lt gt eq comma semi at ctl bad end -> K1"},  // path element after #
    {64, "K14", "dollar -> 36; at -> 56; d19 d0 -> 60; x T h e E hexlow hexup gt eq dot cont wc -> 62; plus minus -> 64; hash quote lt pct comma caret bad -> K1"},  // path element after sign
};

constexpr std::string_view labels[class_count] = {
    "space", "lf", "d19", "d0", "lbrack", "rbrack", "lparen", "rparen", "lbrace", "rbrace",
    "dquote", "hash", "quote", "colon", "x", "T", "h", "e", "E", "hexlow",
    "hexup", "slash", "bslash", "lt", "gt", "eq", "pct", "comma", "semi", "at",
    "dot", "dollar", "plus", "minus", "caret", "ctl", "cont", "wc", "bad", "end",
};

constexpr int label_class(std::string_view s) {
    for (int c = 0; c < class_count; ++c)
        if (labels[c] == s) return c;
    throw "unknown class label";  // not a constant expression: the build fails
}

constexpr uint8_t target(std::string_view s) {
    bool final = s[0] == 'K';
    int n = 0;
    for (size_t i = final ? 1 : 0; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') throw "bad target";
        n = n * 10 + (s[i] - '0');
    }
    if (final ? n >= kind_count : n >= working_states) throw "target out of range";
    return uint8_t(final ? first_final + n : n);
}

constexpr std::string_view trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

constexpr Transitions make_transitions() {
    Transitions table{};
    bool seen[working_states]{};
    for (const Row& row : rows) {
        if (seen[row.state]) throw "state twice";
        seen[row.state] = true;
        uint8_t* out = table.next[row.state];
        uint8_t fallback = target(row.fallback);
        for (int c = 0; c < class_count; ++c) out[c] = fallback;
        std::string_view rules(row.rules);
        while (!rules.empty()) {
            size_t semi = rules.find(';');
            std::string_view rule = trim(rules.substr(0, semi));
            rules = semi == std::string_view::npos ? std::string_view() : rules.substr(semi + 1);
            size_t arrow = rule.find("->");
            if (arrow == std::string_view::npos) throw "rule without arrow";
            uint8_t to = target(trim(rule.substr(arrow + 2)));
            std::string_view classes = trim(rule.substr(0, arrow));
            while (!classes.empty()) {
                size_t space = classes.find(' ');
                out[label_class(classes.substr(0, space))] = to;
                classes = space == std::string_view::npos ? std::string_view() : trim(classes.substr(space));
            }
        }
    }
    for (bool s : seen)
        if (!s) throw "state missing";
    return table;
}

constexpr Transitions built = make_transitions();

constexpr std::array<uint8_t, first_final + kind_count> make_state_types() {
    std::array<uint8_t, first_final + kind_count> t{};
    auto set = [&t](std::initializer_list<int> states, uint8_t type) {
        for (int s : states) t[size_t(s)] = type;
    };
    set({2, 3, 4, 5, 10, 11, 12}, type::string);
    set({6, 7, 8, 9}, type::file);
    set({13, 15, 41, 47, 48, 49, 51, 52, 54, 58, 61, 62, 64}, type::word);
    set({14}, type::refinement);
    set({16, 22, 63}, type::issue);
    set({17}, type::binary);
    set({19, 20}, type::char_);
    set({23, 40, 42, 60}, type::integer);
    set({24, 25, 26, 27, 28, 50}, type::float_);
    set({29}, type::tuple);
    set({30}, type::date);
    set({31, 32}, type::time);
    set({33, 34}, type::pair);
    set({35}, type::point2d);
    set({36, 37, 38}, type::money);
    set({43, 44, 45, 46}, type::tag);
    set({53}, type::set_word);
    set({55}, type::url);
    set({56}, type::email);
    set({57}, type::ref);
    set({59}, type::path);
    constexpr uint8_t kinds[kind_count] = {
        0, type::error, 0, 0, 0, 0, 0, type::string, 0, 0, 0, 0, 0,
        type::string, type::word, type::issue, type::integer, type::refinement, type::char_, type::file,
        type::binary, type::percent, type::float_, type::float_, type::tuple, type::date, type::pair,
        type::point2d, type::time, type::money, type::tag, type::url, type::email, type::integer,
        type::string, type::ref,
    };
    for (int k = 0; k < kind_count; ++k) t[size_t(first_final + k)] = kinds[k];
    return t;
}

constexpr auto state_types = make_state_types();

// The float syntax automaton: columns other, sign, digit, e/E, dot,
// apostrophe, end; state 9 accepts, 10 refuses.
constexpr uint8_t float_rows[9][7] = {
    {10, 0, 1, 10, 4, 10, 10}, {10, 10, 1, 6, 5, 2, 9}, {10, 10, 1, 10, 10, 10, 9},
    {10, 10, 3, 6, 10, 4, 9},  {10, 10, 3, 10, 10, 10, 9}, {10, 10, 3, 10, 10, 10, 9},
    {10, 7, 8, 10, 10, 10, 10}, {10, 10, 8, 10, 10, 10, 10}, {10, 10, 8, 10, 10, 10, 9},
};

constexpr std::array<uint8_t, 256> make_float_columns() {
    std::array<uint8_t, 256> t{};
    t['+'] = t['-'] = 1;
    for (int b = '0'; b <= '9'; ++b) t[b] = 2;
    t['e'] = t['E'] = 3;
    t['.'] = 4;
    t['\''] = 5;
    return t;
}
constexpr auto float_columns = make_float_columns();

}  // namespace

const std::array<uint32_t, 256> char_class = make_classes();

const Transitions transitions = built;

const std::array<uint8_t, first_final + kind_count> state_type = state_types;

bool float_syntax_ok(const char* text, uint32_t n) {
    if (n > 312) return false;
    uint8_t state = 0;
    for (uint32_t i = 0; i < n; ++i) {
        state = float_rows[state][float_columns[uint8_t(text[i])]];
        if (state >= 9) return false;  // only the end column accepts
    }
    return float_rows[state][6] != 10;
}

bool is_unicode_space(uint32_t cp) {
    if (cp < 0x85) return false;
    switch (cp) {
        case 0x85: case 0xA0: case 0x1680: case 0x180E: case 0x200B: case 0x2028: case 0x2029:
        case 0x202F: case 0x205F: case 0x3000: return true;
        default: return cp >= 0x2000 && cp <= 0x200A;
    }
}

}  // namespace kel::lexer
