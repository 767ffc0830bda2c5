// The process's standard handles and its console. Text crosses as UTF-8.
#pragma once
#include <cstddef>

namespace kel::os {

void read_std_handles();
void write_stdout(const char* bytes, size_t n);
void write_stderr(const char* bytes, size_t n);
bool stdout_is_console();
bool alloc_console();
void free_console();

}  // namespace kel::os
