#include "runtime/natives/entries.hpp"

#include <algorithm>

#include "runtime/datatypes/file.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/stack.hpp"

namespace kel::natives {

// to-local-file path /full: a new string! with the host form of the path.
uint32_t to_local_file(const Call& call) {
    enum { full };
    Cell* path = stack::args;
    Cell* out = stack::push_slot();
    string::make(out, uint32_t(std::max(series::length_from(path), 1)));
    file::to_local_string(path, out, call.refs[full] >= 0);
    stack::set_result(out);
    return 0;
}

}  // namespace kel::natives
