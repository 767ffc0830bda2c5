// Starts the runtime once per fuzzing process: the values made with root
// recording on, then the collector switched on.
#pragma once
#include "program/init.hpp"
#include "runtime/system.hpp"

namespace kel::fuzz {

// Answers false when the runtime had already started.
inline bool start_runtime() {
    static bool started = false;
    if (started) return false;
    started = true;
    sys::record.root_recording = true;
    runtime::init_values();
    sys::record.root_recording = false;
    sys::record.collector_enabled = true;
    return true;
}

}  // namespace kel::fuzz
