// POSIX pieces shared by the platform sources. Only platform/ includes this
// header.
#pragma once

#include <cstddef>

// Writes all `size` bytes to `fd`, continuing after signals and short
// writes. False on the first failed or empty write.
bool write_all(int fd, const void* data, size_t size);
