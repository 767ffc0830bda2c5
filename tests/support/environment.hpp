// A runtime with the boot environment loaded, for tests that run Kel source
// as a script would: every native, action and boot function is defined.
// Under KEL_GC_STRESS=1 the boot runs with a collection at every allocation,
// as the test's own code does.
#pragma once
#include "environment/boot.hpp"
#include "tests/support/runtime.hpp"

namespace kel::test {

template <class Base = WithRuntime>
struct WithEnvironment : Base {
    void SetUp() override {
        Base::SetUp();
        environment::boot();
    }
};

}  // namespace kel::test
