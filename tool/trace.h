// The trace exports' work: time-stamped lines on standard output and in
// files, and the remembered file that serves the next line.
//
// A line is "[YYYY-MM-DD hh:mm:ss:mmm] tag :line text", or
// "[YYYY-MM-DD hh:mm:ss:mmm]  text" without a tag, cut at 4095 characters.
// All of it runs under one lock, so lines stay whole and the settings
// consistent when several threads trace.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

// Size beyond which naming the remembered file trims it.
constexpr int64_t kTraceTrimThreshold = 20971520;

// Makes the folders of `file`, names it for the next remembered line and
// trims it. With a non-null `tag`, first sets the tag (cut at 99
// characters) and `line` of later prefixes. -1, with the file name (and for
// an over-long path everything) unchanged, when a folder cannot be made.
int trace_remember_file(const char* file, const char* tag, int line);

// A line from `format` on standard output and appended to `file`, or with a
// null `file` to the remembered file, whose name it then clears.
void trace_formatted(const char* file, const char* format, va_list args)
    __attribute__((format(printf, 2, 0)));

// A line of `title` and the first 2047 of `length` bytes in hex, as
// trace_formatted.
void trace_hex(const char* file, const char* title, const uint8_t* data, int length);

// When `path` is larger than `threshold` bytes, drops its oldest fifth in
// whole lines (those that begin before size / 5), replacing the file whole.
// Only the tail is read, so a file of any size is trimmed. 0, or -1 with
// the file as it was.
int trim_trace_file(const std::string& path, int64_t threshold);
