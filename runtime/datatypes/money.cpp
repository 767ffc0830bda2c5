#include "runtime/datatypes/money.hpp"

#include <cstring>

#include "runtime/datatype.hpp"

namespace kel::money {
namespace {

// The currency list at start-up, in its fixed order.
constexpr const char* currencies[] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BTC", "BGN", "BHD",
    "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF", "CHF", "CKD", "CLP", "CNY",
    "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB", "ETH", "EUR", "FJD",
    "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD", "HNL", "HRK", "HTG", "HUF",
    "IDR", "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY", "KES", "KGS", "KHR", "KID", "KMF",
    "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL", "LYD", "MAD", "MDL", "MGA", "MKD", "MMK",
    "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN", "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR",
    "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PRB", "PYG", "QAR", "KEL", "RON", "RSD", "RUB", "RWF", "SAR",
    "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLL", "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB", "TJS",
    "TMT", "TND", "TOP", "TRY", "TTD", "TVD", "TWD", "TZS", "UAH", "UGX", "USD", "UYU", "UZS", "VES", "VND", "VUV",
    "WST", "CFA", "XAF", "XCD", "XOF", "CFP", "XPF", "YER", "ZAR", "ZMW",
};
constexpr int currency_count = sizeof currencies / sizeof currencies[0];
static_assert(currency_count == 170);

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

uint8_t* digit_bytes(Cell* m) { return reinterpret_cast<uint8_t*>(m) + 5; }

void set_digit(Cell* m, int i, uint32_t d) {
    uint8_t& b = digit_bytes(m)[(i - 1) / 2];
    b = i % 2 ? uint8_t((b & 0x0F) | d << 4) : uint8_t((b & 0xF0) | d);
}

}  // namespace

int32_t find_currency(const char* code) {
    for (int i = 0; i < currency_count; ++i) {
        const char* c = currencies[i];
        if (upper(code[0]) == c[0] && upper(code[1]) == c[1] && upper(code[2]) == c[2]) return i + 1;
    }
    return -1;
}

const char* currency_code(uint32_t index) {
    return index >= 1 && index <= uint32_t(currency_count) ? currencies[index - 1] : nullptr;
}

uint32_t digit(const Cell* m, int i) {
    uint8_t b = reinterpret_cast<const uint8_t*>(m)[5 + (i - 1) / 2];
    return i % 2 ? b >> 4 : b & 0x0F;
}

bool make_from_parts(Cell* out, bool negative, const char* code, const char* start, const char* point,
                     const char* end) {
    *out = Cell{uint32_t(type::money) | (negative ? sign_mask : 0), 0, 0, 0};
    if (code) {
        int32_t index = find_currency(code);
        if (index < 0) return false;
        out->payload1 = uint32_t(index);
    }
    int i = integer_digits;
    for (const char* p = (point ? point : end) - 1; p > start && i >= 1; --p)
        if (*p != '\'') set_digit(out, i--, uint32_t(*p - '0'));
    if (point) {
        i = integer_digits + 1;
        for (const char* p = point + 1; p < end && i <= digits; ++p)
            if (*p != '\'') set_digit(out, i++, uint32_t(*p - '0'));
    }
    return true;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({type::money, 0, "money!", row.handlers});
}

}  // namespace kel::money
