// Whole-file reading and writing.
#pragma once

#include <cstdint>

// Reads a regular file of at most INT_MAX bytes into a malloc'd buffer
// (*out_buffer, the caller frees it; non-null also for an empty file) and
// returns its size. -1 with *out_buffer null for anything else (missing,
// folder, FIFO - never blocks -, unreadable, too big).
int read_file(const char* path, uint8_t** out_buffer);

// Writes all bytes, flushes and closes; false on any failure, a negative
// length or null data with a positive length.
bool write_file(const char* path, const uint8_t* data, int length);
