// Helper programs (a private bus, a private pcscd) started by the tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Runs `args` (looked up on PATH) as a child process that is sent SIGTERM
// when the test program ends, however it ends. Its standard input, output
// and error become `in_fd`, `out_fd` and `err_fd`; `fd3`, when not -1,
// becomes its descriptor 3; every other descriptor is closed. Returns the
// child's pid, or -1 when it could not be forked.
pid_t spawn_child(std::vector<std::string> args, int in_fd, int out_fd, int err_fd,
                  int fd3 = -1);
