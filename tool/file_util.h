// Paths and folders of the utility library. "/" is the only separator.
#pragma once

#include <climits>
#include <cstddef>
#include <optional>
#include <string>

// The longest path the library takes.
constexpr size_t kMaxToolPath = 4095;

// Makes each missing folder along `path` up to its last "/" (mode 0700);
// the part behind it is left to the caller. 0, also for a path without
// "/"; -1 for a null or over-long path or a folder that cannot be made
// (something that is not a folder in the way included).
int make_parent_folders(const char* path);

// The folder of the running program, with its trailing "/"; empty when it
// cannot be read.
std::string program_folder();

// The bytes of the regular file `path` (at most `max_size`), or nothing.
std::optional<std::string> read_text_file(const char* path, int max_size = INT_MAX);

// Makes the folders of `path` and replaces its content with `text` whole
// (a failure leaves the old file). 0 or -1.
int write_text_file(const char* path, const std::string& text);
