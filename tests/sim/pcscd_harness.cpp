#include "pcscd_harness.h"
#include "sim/child_process.h"
#include "sim/process_probe.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winscard.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

constexpr const char* kDriver = "/usr/lib/pcsc/drivers/serial/libifdvpcd.so";

using Clock = std::chrono::steady_clock;

bool executable_on_path(const char* program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  dirs += ":/usr/sbin:/sbin";
  std::stringstream stream(dirs);
  std::string dir;
  while (std::getline(stream, dir, ':')) {
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// A TCP port p with p and p + 1 both free on every address right now.
uint16_t free_port_pair() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    int a = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (a < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t len = sizeof addr;
    uint16_t port = 0;
    if (bind(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(a, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
      port = ntohs(addr.sin_port);
    }
    bool pair_free = false;
    if (port != 0 && port < 65535) {
      int b = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in next{};
      next.sin_family = AF_INET;
      next.sin_addr.s_addr = htonl(INADDR_ANY);
      next.sin_port = htons(uint16_t(port + 1));
      pair_free = b >= 0 && bind(b, reinterpret_cast<sockaddr*>(&next), sizeof next) == 0;
      if (b >= 0) close(b);
    }
    close(a);
    if (pair_free) return port;
  }
  return 0;
}

// Waits for the child to end within `ms`; reaps it when it did.
bool wait_child(pid_t pid, int ms) {
  const int pidfd = int(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd p{pidfd, POLLIN, 0};
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    int r;
    do {
      r = poll(&p, 1, ms_left(deadline));
    } while (r < 0 && errno == EINTR);
    close(pidfd);
    if (r <= 0) return false;
    return waitpid(pid, nullptr, 0) == pid;
  }
  // No pidfd (old kernel): reap with short sleeps, still bounded.
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (true) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
    if (ms_left(deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Waits until `path` exists (pcscd has made its socket). False at the
// deadline, or at once when the child `pid` ended (it is reaped then and
// *ended is set).
bool wait_for_file(const std::string& path, pid_t pid, Clock::time_point deadline, bool* ended) {
  struct stat st;
  while (stat(path.c_str(), &st) != 0) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      *ended = true;
      return false;
    }
    if (ms_left(deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::vector<std::string> list_readers(SCARDCONTEXT context) {
  std::vector<std::string> names;
  DWORD length = 0;
  if (SCardListReaders(context, nullptr, nullptr, &length) != SCARD_S_SUCCESS || length == 0) {
    return names;
  }
  std::vector<char> buffer(length);
  if (SCardListReaders(context, nullptr, buffer.data(), &length) != SCARD_S_SUCCESS) return names;
  size_t start = 0;
  for (size_t i = 0; i < length && i < buffer.size(); ++i) {
    if (buffer[i] != '\0') continue;
    if (i == start) break;
    names.emplace_back(buffer.data() + start, i - start);
    start = i + 1;
  }
  return names;
}

}  // namespace

PcscdHarness& PcscdHarness::instance() {
  static PcscdHarness harness;
  return harness;
}

PcscdHarness::PcscdHarness() {
  char dir_template[] = "/tmp/qm-pcscd-XXXXXX";
  if (mkdtemp(dir_template) == nullptr) return;
  base_dir_ = dir_template;
  run_dir_ = base_dir_ + "/run";
  conf_dir_ = base_dir_ + "/conf";
  log_path_ = base_dir_ + "/pcscd.log";
  socket_path_ = run_dir_ + "/pcscd.comm";
  mkdir(run_dir_.c_str(), 0755);
  mkdir(conf_dir_.c_str(), 0755);
  setenv("PCSCLITE_CSOCK_NAME", socket_path_.c_str(), 1);
}

PcscdHarness::~PcscdHarness() {
  stop();
  for (const std::string& path :
       {run_dir_ + "/pcscd.comm", run_dir_ + "/pcscd.pid", conf_dir_ + "/vpcd", log_path_}) {
    unlink(path.c_str());
  }
  rmdir(run_dir_.c_str());
  rmdir(conf_dir_.c_str());
  rmdir(base_dir_.c_str());
}

std::string PcscdHarness::readerName(int slot) {
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, " 00 %02X", slot & 0xFF);
  return std::string(kReaderBase) + suffix;
}

std::string PcscdHarness::log() const {
  std::ifstream in(log_path_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool PcscdHarness::start(std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  stop();
  if (base_dir_.empty()) {
    *error = "no temporary directory for pcscd";
    return false;
  }
  if (!executable_on_path("pcscd")) {
    *error = "pcscd is not installed (package pcscd)";
    return false;
  }
  if (!executable_on_path("unshare")) {
    *error = "unshare is not installed (package util-linux)";
    return false;
  }
  if (access(kDriver, R_OK) != 0) {
    *error = std::string("the vpcd driver is missing: ") + kDriver + " (package vsmartcard-vpcd)";
    return false;
  }
  // A port taken between our probe and pcscd's bind makes the readers fail
  // to come up; a fresh pair usually does. Root without the right to make a
  // mount namespace (a plain container) may still make a user namespace.
  bool user_namespace = geteuid() != 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (launch(error, user_namespace) && waitReaders(error)) return true;
    if (pid_ < 0) user_namespace = true;  // ended before it served
    stop();
  }
  return false;
}

bool PcscdHarness::launch(std::string* error, bool user_namespace) {
  port_ = free_port_pair();
  if (port_ == 0) {
    *error = "no free TCP port pair for vpcd";
    return false;
  }
  {
    std::ofstream conf(conf_dir_ + "/vpcd", std::ios::trunc);
    char channel[16];
    std::snprintf(channel, sizeof channel, "0x%04X", port_);
    conf << "FRIENDLYNAME \"" << kReaderBase << "\"\n"
         << "DEVICENAME   /dev/null:" << channel << "\n"
         << "LIBPATH      " << kDriver << "\n"
         << "CHANNELID    " << channel << "\n";
    if (!conf) {
      *error = "cannot write the vpcd reader configuration";
      return false;
    }
  }
  // Leftovers of a pcscd that was killed.
  unlink((run_dir_ + "/pcscd.comm").c_str());
  unlink((run_dir_ + "/pcscd.pid").c_str());

  struct stat st;
  const bool need_tmpfs = user_namespace || stat("/run/pcscd", &st) != 0;
  const char* script =
      "set -e\n"
      "if [ \"$3\" = tmpfs ]; then mount -t tmpfs -o mode=755 qm-run /run; mkdir -p /run/pcscd; fi\n"
      "mount --bind \"$1\" /run/pcscd\n"
      "exec pcscd -f -c \"$2\"\n";
  std::vector<std::string> args = {"unshare", "--mount", "--propagation", "private"};
  if (user_namespace) args.push_back("--map-root-user");
  for (const char* word : {"--", "sh", "-c", script, "qm-pcscd"}) args.push_back(word);
  args.push_back(run_dir_);
  args.push_back(conf_dir_);
  args.push_back(need_tmpfs ? "tmpfs" : "bind");
  const int log_fd = open(log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (log_fd < 0 || null_fd < 0) {
    if (log_fd >= 0) close(log_fd);
    if (null_fd >= 0) close(null_fd);
    *error = "cannot open the pcscd log";
    return false;
  }
  // unshare, sh and pcscd exec one another, so this pid ends up being
  // pcscd's.
  const pid_t pid = spawn_child(std::move(args), null_fd, log_fd, log_fd);
  close(log_fd);
  close(null_fd);
  if (pid < 0) {
    *error = "fork failed";
    return false;
  }
  pid_ = pid;
  return true;
}

bool PcscdHarness::waitReaders(std::string* error) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
  bool ended = false;
  if (!wait_for_file(socket_path_, pid_, deadline, &ended)) {
    if (ended) pid_ = -1;
    *error = std::string(ended ? "pcscd ended early" : "pcscd made no socket within 5 s") +
             "; its output:\n" + log();
    return false;
  }
  SCARDCONTEXT context = 0;
  while (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
    if (ms_left(deadline) == 0) {
      *error = "no PC/SC context from the private pcscd within 5 s; its output:\n" + log();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  bool found = false;
  while (true) {
    int seen = 0;
    for (const std::string& name : list_readers(context)) {
      if (name == readerName(0) || name == readerName(1)) ++seen;
    }
    if (seen == 2) {
      found = true;
      break;
    }
    const int left = ms_left(deadline);
    if (left == 0) break;
    // Sleeps until the reader list changes (or the short slice ends).
    SCARD_READERSTATE pnp{};
    pnp.szReader = "\\\\?PnP?\\Notification";
    pnp.dwCurrentState = DWORD(seen) << 16;
    SCardGetStatusChange(context, DWORD(left < 100 ? left : 100), &pnp, 1);
  }
  SCardReleaseContext(context);
  if (!found) *error = "the vpcd readers did not come up within 5 s; pcscd output:\n" + log();
  return found;
}

bool PcscdHarness::waitCard(int slot, bool present, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  SCARDCONTEXT context = 0;
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
    return false;
  }
  const std::string reader = readerName(slot);
  SCARD_READERSTATE state{};
  state.szReader = reader.c_str();
  state.dwCurrentState = SCARD_STATE_UNAWARE;
  bool reached = false;
  while (true) {
    const LONG rc = SCardGetStatusChange(context, DWORD(ms_left(deadline)), &state, 1);
    if (rc != SCARD_S_SUCCESS && rc != SCARD_E_TIMEOUT) break;
    const bool has_card = (state.dwEventState & SCARD_STATE_PRESENT) != 0 &&
                          (state.dwEventState & SCARD_STATE_MUTE) == 0;
    if (has_card == present) {
      reached = true;
      break;
    }
    if (rc == SCARD_E_TIMEOUT || ms_left(deadline) == 0) break;
    state.dwCurrentState = state.dwEventState & ~DWORD(SCARD_STATE_CHANGED);
  }
  SCardReleaseContext(context);
  return reached;
}

bool stop_child_process(pid_t pid, int wait_ms) {
  if (pid <= 0) return true;
  kill(pid, SIGTERM);
  if (wait_child(pid, wait_ms)) return true;
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return false;
}

bool PcscdHarness::stop() {
  const pid_t pid = pid_;
  pid_ = -1;
  return stop_child_process(pid, kWaitMs);
}
