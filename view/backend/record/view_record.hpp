// The global object `view-record`: the recording display's call log, event
// queue and screens as Kel test tables reach them, and the in-memory
// clipboard that replaces `read-clipboard` and `write-clipboard` while the
// recording back end is in use.
#pragma once

namespace kel::view::record {

// Defines `view-record` and the clipboard functions (after the boot sources).
void make_view_record();

}  // namespace kel::view::record
