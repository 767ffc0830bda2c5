// hash!: molded text that evaluates back.
#include <gtest/gtest.h>

#include "runtime/datatypes/block.hpp"
#include "runtime/hashtable.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Hash : WithEnvironment<WithSeries> {};

}  // namespace

TEST_F(Hash, MoldLoadsBack) {
    for (const char* source : {"make hash! [1 a [b] 2.5]", "make hash! []"}) {
        std::string molded = eval(source);
        EXPECT_EQ(eval(molded.c_str()), molded) << source;
    }
}

