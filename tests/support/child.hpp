// Runs a program as a child process and collects its exit status and output.
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace kel::test {

struct ChildResult {
    int status = -1;  // low 8 bits of the exit status
    std::string out;
    std::string err;
};

using Environment = std::vector<std::pair<std::string, std::string>>;

ChildResult run_child(const std::string& program, const std::vector<std::string>& args,
                      const Environment& env = {});

// The path of an executable that lives beside the running test program.
std::string sibling(const std::string& name);

// Output text with CR LF line ends turned into LF.
std::string without_cr(const std::string& s);

}  // namespace kel::test

namespace kel::test {

// Collects what the runtime writes to standard output while it lives.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    std::string text();  // ends the capture

private:
    std::string taken_;
    bool done_ = false;
    long long saved_ = -1;
    long long read_end_ = -1;
    long long write_end_ = -1;
};

}  // namespace kel::test
