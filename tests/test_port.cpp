// port!: made from a spec through the scheme registry, its actions
// forwarded to the scheme's actor with the action's own arguments.
#include <gtest/gtest.h>

#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

// A scheme `test` whose actor logs its calls and answers its arguments.
const char* scheme = R"(
    log: copy []
    test-actor: make object! [
        open: func [port /new /read /write /seek /allow access] [append log reduce ['open write] port]
        copy: func [port /part length /deep /types kind /local n] [append log 'copy n: reduce [part length n]]
        close: func [port] [append log 'close port]
        insert: func [port value /part length /only /dup count] [reduce ['insert value part length only dup count]]
        swap: func [port other] [reduce ['swap other]]
        at: func [port index] [reduce ['at index]]
        query: func [port] [reduce ['query port/scheme]]
        clear: func [port] ['cleared]
    ]
    system: make object! [
        schemes: reduce [
            'test make object! [name: 'test title: none info: none actor: test-actor]
            'bad make object! [name: 'bad title: none info: none actor: 1]
        ]
        standard: none
    ]
    p: make port! [scheme: 'test]
)";

struct Ports : WithEnvironment<WithSeries> {};

TEST_F(Ports, MakeAndForward) {
    auto with = [](const char* code) { return std::string(scheme) + code; };
    struct Case {
        std::string source;
        const char* expected;
    } cases[] = {
        {with("p/scheme"), "test"},
        {with("p/spec/scheme"), "test"},
        {with("make port! [scheme: 'nowhere]"), "error: unknown-scheme"},
        {with("make port! [scheme: 1]"), "error: no-scheme"},
        {with("make port! [scheme: 'bad]"), "error: invalid-actor"},
        {with("pick p 1"), "error: no-port-action"},
        {with("swap p 5"), "[swap 5]"},
        {with("at p 3"), "[at 3]"},
        {with("query p"), "[query test]"},
        {with("clear p"), "cleared"},
        {with("append p 7"), "[insert 7 false none false false none]"},
        {with("insert/dup p 7 3"), "[insert 7 false none false true 3]"},
        {with("copy/part p 4"), "[true 4 none]"},  // a local starts as none
        {with("read p"), "[false none none]"},
        {with("read p  log"), "[open false copy close]"},
        {with("write p 9"), "[false none none]"},
        {with("write p 9  log"), "[open true copy close]"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval(c.source.c_str()), c.expected) << c.source;
    std::string molded = eval(with("mold p").c_str());
    EXPECT_EQ(molded.find("make port! [^/    spec: make object! [^/        scheme: 'test^/    ]^/    scheme: 'test"), 1u)
        << molded;
}

}  // namespace
