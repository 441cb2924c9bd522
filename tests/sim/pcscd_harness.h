// A private pcscd for one test program, with the vpcd driver's two virtual
// readers "USB Smart Card Reader 00 00" (card port N) and "... 00 01"
// (port N + 1).
//
// pcscd runs in a mount namespace of its own (unshare --mount, with
// --map-root-user when not root, or when root may not make a mount
// namespace on its own) where a temporary directory is bound over
// /run/pcscd, so the machine's own pcscd and its socket are never touched.
// When /run/pcscd does not exist (or without root) a tmpfs is mounted on /run
// inside the namespace first, so nothing is created outside it either.
//
// libpcsclite reads PCSCLITE_CSOCK_NAME once per process, so the socket
// directory is made once for the whole program (by instance(), which also
// sets the variable) and a restarted pcscd reuses it.
//
// Every wait is bounded (5 s by default). A missing pcscd, unshare or vpcd
// driver makes start() fail with a message: tests treat that as a failure,
// never as a reason to skip.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

// Ends a child process of ours: SIGTERM, at most `wait_ms` for it to end,
// then SIGKILL; reaps it either way. True when it ended on SIGTERM.
bool stop_child_process(pid_t pid, int wait_ms);

class PcscdHarness {
 public:
  static constexpr const char* kReaderBase = "USB Smart Card Reader";
  static constexpr int kWaitMs = 5000;

  // The one harness of this process. Sets PCSCLITE_CSOCK_NAME on first use,
  // so call it before anything else talks to PC/SC.
  static PcscdHarness& instance();

  // Starts pcscd (stopping a running one first) on a fresh free port pair
  // and waits for both readers to be listed. On failure `error` says why.
  bool start(std::string* error);
  // SIGTERM to pcscd, at most kWaitMs for it to end, then SIGKILL. True when
  // it ended on SIGTERM (or was not running).
  bool stop();
  bool running() const { return pid_ > 0; }

  // The vpcd card port of slot 0; slot 1 is one above.
  uint16_t cardPort(int slot = 0) const { return uint16_t(port_ + slot); }
  // "USB Smart Card Reader 00 0<slot>".
  static std::string readerName(int slot);
  // Waits until the slot's reader shows a card (present) or none.
  bool waitCard(int slot, bool present, int timeout_ms = kWaitMs);
  // What pcscd printed (for failure messages).
  std::string log() const;
  const std::string& socketPath() const { return socket_path_; }

 private:
  PcscdHarness();
  ~PcscdHarness();
  bool launch(std::string* error, bool user_namespace);
  bool waitReaders(std::string* error);

  std::string base_dir_;    // holds run/, conf/ and pcscd.log
  std::string run_dir_;     // bound over /run/pcscd inside the namespace
  std::string conf_dir_;
  std::string log_path_;
  std::string socket_path_;
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};
