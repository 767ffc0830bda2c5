// Test helpers for binary data and files: a Kel function hex (hex data
// answers the bytes of a binary! from its index as a string of upper-case
// hex digits, so tests can read binary results as text), private temporary
// paths and file! literals of OS paths.
#pragma once
#include <string>

#include <gtest/gtest.h>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif


namespace kel::test {

// Evaluated over the booted environment, defines hex.
constexpr const char* hex_source = "hex: func [data [binary!]] [enbase/base data 16]";

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

// A string! literal of an OS path: backslashes are plain characters in Kel
// text, so only quotes and carets need escaping.
inline std::string string_literal(const std::string& path) {
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '^') out += '^';
        out += c;
    }
    return out + "\"";
}

}  // namespace kel::test
