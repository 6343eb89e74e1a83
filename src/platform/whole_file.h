// A whole file read or written through a descriptor.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The first most bytes of the file open at fd (all of it, when shorter),
// read from its start whatever the descriptor's offset; false when a read
// failed before its end, bytes then holding what was read.
bool ReadWholeFile(int fd, std::string &bytes, size_t most);
// Writes all of bytes, resuming after signals; false on any error.
bool WriteAll(int fd, std::string_view bytes);
