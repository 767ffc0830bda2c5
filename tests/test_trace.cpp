// The tracer, seen from Kel: do/trace with a callback that collects what it
// is told.
#include <gtest/gtest.h>

#include "runtime/interp_trace.hpp"
#include "tests/support/kel_source.hpp"

using namespace kel;
using namespace kel::test;

namespace {

const NativeSpec specs[] = {
    {"do", type::native, 20, "[value [any-type!] /expand /args arg /next position [word!] /trace callback]"},
    {"func", type::native, 14, "[spec [block!] body [block!]]"},
    {"reduce", type::native, 35, "[value [any-type!] /into out [block!]]"},
    {"try", type::native, 70, "[block [block!] /all /keep]"},
    {"throw", type::native, 81, "[value [any-type!] /name word [word!]]"},
    {"catch", type::native, 82, "[block [block!] /name word [word! block!]]"},
    {"if", type::native, 1, "[cond [any-type!] then-blk [block!]]"},
};

struct Trace : KelSource {
    std::span<const NativeSpec> natives_used() const override { return specs; }
    void SetUp() override {
        KelSource::SetUp();
        // The callbacks keep what they are told in `seen`, a block built by
        // reduce (blocks have no append yet): seen: reduce [seen ...].
        eval("seen: []");
    }
    void TearDown() override {
        EXPECT_FALSE(interp::tracer.installed) << "a run stayed open";
        KelSource::TearDown();
    }
};

}  // namespace

TEST_F(Trace, EventsOfAnExpression) {
    check({
        {"seen: [] do/trace [1 + 2] func [event code offset value ref frame] [seen: reduce [seen event]] seen",
         "[[[[[[[[[[[] init] enter] fetch] open] fetch] call] return] expr] exit] end]"},
        // The result of the traced code is do's result.
        {"do/trace [1 + 2] func [event code offset value ref frame] [none]", "3"},
    });
}

TEST_F(Trace, TheCallbackChoosesItsEvents) {
    check({
        // A block first in the body names the events wanted.
        {"seen: [] do/trace [x: 10 + 2] func [event code offset value ref frame] [[fetch set] "
         "seen: reduce [seen event value ref offset]] seen",
         "[[[[[] fetch x: none 0] fetch 10 none 1] fetch 2 none 3] set 12 x: 4]"},
    });
}

TEST_F(Trace, RunsAreClosed) {
    check({
        // A second run inside a run installs no callback of its own.
        {"seen: [] do/trace [do/trace [1] func [e c o v r f] [seen: 'inner]] func [e c o v r f] [[init]"
         " seen: reduce [seen e]] seen",
         "[[] init]"},
        // An error ends the run, and end is reported.
        {"seen: [] try [do/trace [1 + none] func [e c o v r f] [[init end] seen: reduce [seen e]]] seen",
         "[[[] init] end]"},
        // So does a throw passing through.
        {"catch [do/trace [throw 5] func [e c o v r f] [none]]", "5"},
        // Not traced again afterwards.
        {"seen: [] do [1] seen", "[]"},
    });
}
