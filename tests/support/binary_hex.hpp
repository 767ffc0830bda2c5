// Test helpers for binary data and files: a test-only native in a spare
// slot of the table (hex data answers the bytes of a binary! from its index
// as a string of upper-case hex digits, so tests can read binary results as
// text), private temporary paths and file! literals of OS paths.
#pragma once
#include <string>

#include <gtest/gtest.h>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include "runtime/datatypes/string.hpp"
#include "runtime/natives/checksum.hpp"
#include "runtime/stack.hpp"

namespace kel::test {

constexpr uint32_t hex_slot = 112;

inline uint32_t hex_native(const Call&) {
    size_t n;
    const uint8_t* p = checksum::binary_bytes(stack::args, &n);
    std::string text;
    text.reserve(2 * n);
    static constexpr char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < n; ++i) text += digits[p[i] >> 4], text += digits[p[i] & 15];
    Cell* out = stack::push_slot();
    string::make_from_utf8(out, text.data(), text.size());
    stack::set_result(out);
    return 0;
}

// A path in the temporary folder that no other test process shares.
inline std::string temp_path(const std::string& name) {
#ifdef _WIN32
    int pid = _getpid();
#else
    int pid = int(getpid());
#endif
    return testing::TempDir() + "kel" + std::to_string(pid) + "_" + name;
}

// A file! literal of an OS path, quoted and with "/" separators, so that
// Windows paths (drive colon, backslashes) load as one value.
inline std::string file_literal(std::string path) {
    for (char& c : path)
        if (c == '\\') c = '/';
    return "%\"" + path + "\"";
}

}  // namespace kel::test
