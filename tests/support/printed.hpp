// A fixture layer that keeps what the print hooks receive in `printed`. The
// hook list, made in whichever test's heap first grew it, is set aside for
// one held here and put back as it was afterwards.
#pragma once
#include <iterator>
#include <string>

#include "runtime/datatypes/string.hpp"
#include "runtime/output.hpp"

namespace kel::test {

inline std::string printed;

inline void keep_printed(const Cell* text, bool newline) {
    printed += string::to_utf8(text);
    if (newline) printed += "\n";
}

template <class Base>
struct KeepsPrinted : Base {
    output::ValueHook own_hooks[4] = {};
    output::HookList<output::ValueHook> saved_hooks;
    void SetUp() override {
        Base::SetUp();
        printed.clear();
        auto& hooks = const_cast<output::HookList<output::ValueHook>&>(output::value_hooks());
        saved_hooks = hooks;
        hooks = {own_hooks, 0, std::size(own_hooks)};
        output::register_print_hooks(keep_printed, nullptr);
    }
    void TearDown() override {
        const_cast<output::HookList<output::ValueHook>&>(output::value_hooks()) = saved_hooks;
        Base::TearDown();
    }
};

}  // namespace kel::test
