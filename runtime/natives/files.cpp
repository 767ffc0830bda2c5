#include "runtime/natives/files.hpp"

#include <algorithm>

#include "runtime/datatypes/file.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/stack.hpp"

namespace kel::natives {

// to-local-file path /full: a new string! with the host form of the path.
uint32_t to_local_file(const Call& call) {
    Cell* path = stack::args;
    Cell* out = stack::push_slot();
    string::make(out, uint32_t(std::max(series::length_from(path), 1)));
    file::to_local_string(path, out, call.refs[0] >= 0);
    stack::set_result(out);
    return 0;
}

void init_files() { table[85 - 1] = to_local_file; }

}  // namespace kel::natives
