// The file services of the file! actions and of `do` on a file: whole-file
// reads (text, bytes or lines) and directory listings, whole-file writes and
// appends, the modification date, delete and rename. Every call opens and
// closes what it uses (platform/files.hpp). Results are pushed on the stack.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "runtime/actions.hpp"
#include "runtime/cell.hpp"

namespace kel::simpleio {

// A directory-like path is listed as a block of file! values (directories
// ending in "/"); any other file is read as a string! decoded from UTF-8, a
// binary! or a block of line strings. A failure raises access cannot-open;
// a file longer than a series may be (a device without end) raises too-long.
Cell* read_dispatch(Cell* file, const Cell* seek, const Cell* part, bool binary, bool lines);

// Writes the data (a string! as UTF-8, a binary! as it is, anything else
// formed) to the file, or to standard output when file is null; with lines,
// every value (of a block: each value) is followed by CR LF. Text is encoded
// as it is written, a piece at a time. A negative seek writes nothing; a
// failure raises access cannot-open.
void write_dispatch(Cell* file, Cell* data, const Cell* seek, const Cell* part, bool binary, bool append,
                    bool lines);

// The modification date (date! in UTC) or none.
Cell* query_file(const Cell* file);
bool delete_file(const Cell* file);
bool rename_file(const Cell* from, const Cell* to);

// The bytes of the file a file! names; nothing when it cannot be read
// (too-long and no-memory are raised as read raises them).
std::optional<std::string> read_bytes(const Cell* file);

}  // namespace kel::simpleio
