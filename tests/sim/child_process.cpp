#include "sim/child_process.h"

#include <linux/close_range.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

pid_t spawn_child(std::vector<std::string> args, int in_fd, int out_fd, int err_fd, int fd3) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid < 0 ? -1 : pid;
  // Only async-signal-safe calls until exec.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(1);  // the parent ended before prctl took hold
  dup2(in_fd, 0);
  dup2(out_fd, 1);
  dup2(err_fd, 2);
  if (fd3 >= 0) dup2(fd3, 3);
  close_range(fd3 >= 0 ? 4 : 3, ~0U, 0);
  execvp(argv[0], argv.data());
  _exit(127);
}
