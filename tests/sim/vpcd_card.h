// A fake smart card on vpcd's TCP link: the card side of a virtual reader
// of the private pcscd (pcscd_harness.h).
//
// The card connects to 127.0.0.1:<port> (TCP_NODELAY, TCP_QUICKACK after
// each receive) and speaks vpcd's protocol: every message is a 2-byte
// big-endian length and the payload. A 1-byte payload is a control message
// (00 power off, 01 power on, 02 reset, 04 ATR request; only the ATR request
// is answered). Anything longer is a command APDU, answered with the
// handler's response. vpcd repeats its ATR requests while polling for the
// card, and the card answers each one, so it stays inserted until stop().
//
// Thread safety: every public member may be called from any thread; the
// handler runs on the card's own thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class VpcdCard {
 public:
  using Bytes = std::vector<uint8_t>;
  using Handler = std::function<Bytes(const Bytes& command)>;

  // 3B 00: no interface bytes, so T=0 only.
  static Bytes atrT0();
  // 3B 80 01 81: TD1 offers T=1 only (TCK included).
  static Bytes atrT1();

  VpcdCard(uint16_t port, Bytes atr);
  ~VpcdCard();
  VpcdCard(const VpcdCard&) = delete;
  VpcdCard& operator=(const VpcdCard&) = delete;

  // The default handler answers 90 00 to every command.
  void setHandler(Handler handler);
  // Starts connecting (retrying for up to `connect_ms` until vpcd listens).
  void start(int connect_ms = 5000);
  // Disconnects: vpcd then sees the card removed.
  void stop();

  bool connected() const;
  // Every command received, in order.
  std::vector<Bytes> commands() const;
  size_t atrRequests() const;
  bool waitCommands(size_t count, int timeout_ms) const;

 private:
  void run(int connect_ms);
  int connectOnce();
  bool sendMessage(int fd, const Bytes& payload);
  // Reads exactly n bytes, watching the stop signal. False on EOF/stop.
  bool readExact(int fd, uint8_t* out, size_t n);

  uint16_t port_;
  Bytes atr_;
  int stop_fd_ = -1;
  std::thread thread_;

  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  Handler handler_;
  bool connected_ = false;
  std::vector<Bytes> commands_;
  size_t atr_requests_ = 0;
};
