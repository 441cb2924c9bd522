// The product API's own trace: one line per message, appended to the day's
// file library_directory + "LogTrace_YYYY-MM-DD.txt" whatever the core's
// trace level. Messages are GBK texts that end in a line feed.
#pragma once

// Nothing is written for a null message or when the file cannot be opened
// (a symbolic link is not followed).
void FacadeTrace(const char* message);
