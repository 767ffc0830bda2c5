// money!: the arithmetic cores and round against Python's decimal on
// generated amounts (tests/oracles/money_oracle.py, which also models the
// two refusals made before any digit work), and the digit counts those
// refusals rest on. The Kel-visible behaviour is tabled in
// tests/kel/money.kel.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/tokenizer.hpp"
#include "runtime/error.hpp"
#include "runtime/throws.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

using namespace kel;

namespace {

struct Money : test::WithEnvironment<> {};

Cell money_of(const std::string& text) {
    Cell m{};
    EXPECT_TRUE(tokenizer::scan_money(text.data(), uint32_t(text.size()), 1, &m)) << text;
    return m;
}

// The amount with its five decimals, as the oracle writes it.
std::string text_of(const Cell& m) {
    __int128 u = money::units(&m);
    bool negative = u < 0;
    if (negative) u = -u;
    std::string digits;
    for (; u > 0; u /= 10) digits.insert(digits.begin(), char('0' + int(u % 10)));
    digits.insert(0, std::string(digits.size() < 6 ? 6 - digits.size() : 0, '0'));
    digits.insert(digits.size() - 5, ".");
    return (negative ? "-" : "") + digits;
}

// A money literal of an oracle amount: -12.5 becomes -$12.5.
std::string literal(const std::string& amount) {
    return amount[0] == '-' ? "-$" + amount.substr(1) : "$" + amount;
}

// mold/all of the amount, as Kel writes it: $0.50000, -$12.00000.
std::string molded(const std::string& amount) {
    std::string lit = literal(amount);
    size_t dollar = lit.find('$');
    size_t first = lit.find_first_not_of('0', dollar + 1);
    if (lit[first] == '.') --first;
    return "\"" + lit.substr(0, dollar + 1) + lit.substr(first) + "\"";
}

int op_code(const std::string& op) {
    if (op == "add") return integer::op::add;
    if (op == "subtract") return integer::op::subtract;
    if (op == "multiply") return integer::op::multiply;
    if (op == "divide") return integer::op::divide;
    return integer::op::remainder;
}

std::string core(const std::string& op, const std::string& a, const std::string& b) {
    Cell x = money_of(a), y = money_of(b);
    Cell result{};
    uint32_t raised = throws::protect(throws::error, [&] { result = *money::core_dispatch(&x, &y, op_code(op)); });
    return raised ? std::string(error::pending.id) : text_of(result);
}

std::string round(const std::string& mode, const std::string& a, const std::string& b) {
    std::string path = mode == "nearest" ? "round/to" : "round/to/" + mode;
    std::string r = test::eval("mold/all " + path + " " + literal(a) + " " + literal(b));
    return r.rfind("error: ", 0) == 0 ? r.substr(7) : r;
}

}  // namespace

TEST_F(Money, SignificantDigitsCountFromTheFirstNonzeroToTheFifthDecimal) {
    const struct {
        const char* amount;
        int count;
    } cases[] = {{"$1", 6}, {"$0.01", 4}, {"$12345.5", 10}, {"$0", 1}, {"$0.00001", 1},
                 {"-$99999999999999999.99999", 22}};
    for (const auto& c : cases) {
        Cell m = money_of(c.amount);
        EXPECT_EQ(money::significant_digits(&m), c.count) << c.amount;
    }
}

#ifndef _WIN32

TEST_F(Money, CoresAndRoundAgreeWithPythonDecimal) {
    std::string here = __FILE__;
    std::string script = here.substr(0, here.find_last_of('/') + 1) + "oracles/money_oracle.py";
    const int count = 6000;
    test::ChildResult r = test::run_child("/usr/bin/env", {"python3", script, "2026", std::to_string(count)});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    int cases = 0, refused = 0;
    for (std::string line; std::getline(lines, line); ++cases) {
        std::istringstream fields(line);
        std::string op, a, b, want;
        std::getline(fields, op, '\t');
        std::getline(fields, a, '\t');
        std::getline(fields, b, '\t');
        std::getline(fields, want, '\t');
        refused += want == "type-limit";
        if (op.rfind("round-", 0) == 0) {
            bool number = want != "type-limit" && want != "zero-divide";
            EXPECT_EQ(round(op.substr(6), a, b), number ? molded(want) : want) << line;
        } else {
            EXPECT_EQ(core(op, a, b), want) << line;
        }
    }
    EXPECT_EQ(cases, count);
    EXPECT_GT(refused, 100);  // the limits and both refusals come up
}

#endif
