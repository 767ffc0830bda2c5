// vector!: the molded text evaluates back to the same vector.
#include <gtest/gtest.h>

#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Vector : WithEnvironment<WithSeries> {};

}  // namespace

TEST_F(Vector, MoldLoadsBack) {
    for (const char* source : {"make vector! [1 2]", "make vector! [integer! 8 [5]]", "make vector! [float! 32 [0.5]]",
                               "make vector! []"}) {
        std::string molded = eval(source);
        EXPECT_EQ(eval(molded.c_str()), molded) << source;
    }
}
