// A pseudo-terminal pair standing in for a serial line in tests.
//
// The master descriptor is the "reader" side (a simulator or the test itself
// reads the library's frames there and writes replies); the slave path is
// what a ComPort opens. The pair keeps a slave descriptor of its own open for
// its whole life, so the master never sees a hang-up when the port under test
// closes, and so a test can read back the line settings the port applied.
// The slave keeps the kernel's default (cooked) settings: only the port under
// test makes it raw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes all `n` bytes to a non-blocking descriptor, waiting up to a second
// each time its queue is full. A socket peer that went away gives false, not
// SIGPIPE.
bool sim_write_all(int fd, const uint8_t* data, size_t n);

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool ok() const { return master_ >= 0 && slave_ >= 0; }
  int master() const { return master_; }
  int slave() const { return slave_; }
  const std::string& slavePath() const { return slave_path_; }

  // Hands the master descriptor over (the caller closes it); the pair then
  // holds only its slave descriptor.
  int releaseMaster();
  // Closes the master now: the slave side sees a hang-up.
  void closeMaster();

  // Line speeds of the slave as the kernel holds them (TCGETS2), so rates
  // without a B-constant can be checked too. False when the ioctl fails.
  bool speeds(uint32_t* input_baud, uint32_t* output_baud) const;

  // Master-side helpers for tests that play the reader by hand. writeAll
  // sends every byte (waiting while the queue is full); readExact collects
  // `count` bytes within `timeout_ms` and returns what it got.
  bool writeAll(const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> readExact(size_t count, int timeout_ms);
  // Everything that arrives until the line has been quiet for `quiet_ms`.
  std::vector<uint8_t> drain(int quiet_ms);

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
};
