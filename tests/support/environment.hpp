// A runtime with the boot environment loaded, for tests that run Kel source
// as a script would: every native, action and boot function is defined.
#pragma once
#include "environment/boot.hpp"
#include "tests/support/runtime.hpp"

namespace kel::test {

// Boots over a fresh runtime. The boot itself runs without the collection
// stress of KEL_GC_STRESS, which stays on for the test's own code.
template <class Base = WithRuntime>
struct WithEnvironment : Base {
    void SetUp() override {
        Base::SetUp();
        bool stressed = alloc::stress;
        alloc::stress = false;
        environment::boot();
        alloc::stress = stressed;
    }
};

}  // namespace kel::test
