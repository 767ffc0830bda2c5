#include <windows.h>

#include "runtime/platform/gui.hpp"

namespace kel::gui {

void do_events() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace kel::gui
