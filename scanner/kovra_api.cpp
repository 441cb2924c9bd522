// The connection: its lifecycle, the receive thread, the scan buffer and
// the library mutex that exchanges hold.
//
// Lifecycle calls (open, close, start and stop of auto-connect) run one at
// a time: a call that finds another in progress waits for it. The threads
// they end are told to stop first and then joined without the lifecycle
// mutex held. A thread of the module that is waiting for its turn while the
// call in progress ends it gives up at once instead (it would otherwise
// wait for its own join); a thread that ends itself (a callback closing its
// own connection) is parked and joined by the next lifecycle call from
// another thread, or at unload.
#include "scanner/kovra_api.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/deadline.h"
#include "platform/thread_helpers.h"
#include "scanner/auto_connect.h"
#include "scanner/environment.h"
#include "scanner/receive_ring.h"
#include "scanner/ring_reader.h"
#include "scanner/transport.h"

namespace {

// While the ring holds bytes that an exchange is reading, the receive
// thread looks again after this long.
constexpr int32_t kReceiveBusyMs = 20;
constexpr int32_t kScanUnitMs = 100;
constexpr const char kVersion[] = "1.3.15";

// The stop flag of the module thread running here; null on others.
thread_local const std::atomic<bool>* t_own_stop = nullptr;

bool own_stop_set() { return t_own_stop && t_own_stop->load(); }

class ScannerModule {
 public:
  ScannerModule() {
    // Built first, so destroyed after the module has closed everything.
    scanner_ring();
    scanner_transport();
  }
  ~ScannerModule() {
    // Unloading stops a running reconnection the way the application
    // would (mode 0, then close); a scanner the application opened itself
    // is only closed, so no command holds up the exit.
    bool reconnecting;
    {
      std::lock_guard<std::mutex> lock(life_mutex_);
      reconnecting = auto_ != nullptr;
    }
    if (reconnecting) stopAutoConnect();
    close();
    std::unique_lock<std::mutex> lock(life_mutex_);
    joinParked(lock);
  }

  int32_t open(const KOVRA_Config* config, KOVRA_DataCallback callback,
               KOVRA_TextCallback text_callback, void* user) {
    std::unique_lock<std::mutex> lock(life_mutex_);
    if (!enter(lock)) return KOVRA_CONNECT_FAILED;
    endConnection(lock);
    lock.unlock();
    auto worker = std::make_shared<Worker>();
    worker->callback = callback;
    worker->text_callback = text_callback;
    worker->user = user;
    int32_t result = KOVRA_CONNECT_FAILED;
    {
      std::lock_guard<std::mutex> exchange(exchange_mutex_);
      transport_ = &scanner_transport();
      open_ = transport_->open(config ? config->port : -1, config ? config->baud : 0) == 1;
      if (open_ && start_thread(worker->thread, [this, worker] { receive(worker); })) {
        result = KOVRA_OK;
      } else {
        transport_->close();
        transport_ = nullptr;
        open_ = false;
      }
    }
    lock.lock();
    if (result == KOVRA_OK) connection_ = std::move(worker);
    leave(lock);
    return result;
  }

  int32_t close() {
    std::unique_lock<std::mutex> lock(life_mutex_);
    if (!enter(lock)) return KOVRA_OK;
    endConnection(lock);
    leave(lock);
    return KOVRA_OK;
  }

  int32_t startAutoConnect(int16_t port, uint32_t baud, KOVRA_DataCallback callback,
                           void* user) {
    std::unique_lock<std::mutex> lock(life_mutex_);
    if (!enter(lock)) return KOVRA_TRANSPORT;
    if (auto_) retire(std::move(auto_), lock);
    auto worker = std::make_shared<Worker>();
    worker->callback = callback;
    worker->user = user;
    worker->port = port;
    worker->baud = baud;
    const bool started = start_thread(worker->thread, [worker] {
      t_own_stop = &worker->stop;
      run_auto_connect(
          AutoConnectTarget{worker->port, worker->baud, worker->callback, worker->user},
          [&worker](int32_t ms) { return worker->pause(ms); });
    });
    if (started) auto_ = std::move(worker);
    leave(lock);
    return started ? 0 : KOVRA_TRANSPORT;
  }

  int32_t stopAutoConnect() {
    std::unique_lock<std::mutex> lock(life_mutex_);
    if (!enter(lock)) return 0;
    if (auto_) retire(std::move(auto_), lock);
    lock.unlock();
    KOVRA_SetMode(0);
    lock.lock();
    endConnection(lock);
    leave(lock);
    return 0;
  }

  int32_t readScanData(uint16_t timeout, uint8_t* buffer, int32_t capacity, int32_t* length) {
    std::unique_lock<std::mutex> lock(scan_mutex_);
    if (!buffer || !length) {
      scan_count_ = 0;
      return KOVRA_OK;
    }
    const Deadline deadline((std::max<int32_t>(timeout, 1) + 1) * kScanUnitMs);
    scan_arrived_.wait_until(lock, deadline.when(),
                             [this] { return scan_count_ > 0 || own_stop_set(); });
    if (scan_count_ == 0) return KOVRA_FAILED;
    const size_t room = size_t(std::max(capacity, 0));
    const size_t copied = std::min(room, scan_count_);
    std::memcpy(buffer, scan_, copied);
    if (copied < room) buffer[copied] = 0;
    *length = int32_t(copied);
    scan_count_ = 0;
    return KOVRA_OK;
  }

  // --- exchanges ---------------------------------------------------------

  void lockExchange() {
    ++exchanges_waiting_;
    exchange_mutex_.lock();
    --exchanges_waiting_;
  }
  void unlockExchange() { exchange_mutex_.unlock(); }
  // Called with the exchange mutex held.
  bool isOpen() const { return open_; }
  ScannerTransport& transport() { return *transport_; }

  std::atomic<uint8_t> last_mode{0};

 private:
  struct Worker {
    KOVRA_DataCallback callback = nullptr;
    KOVRA_TextCallback text_callback = nullptr;
    void* user = nullptr;
    int16_t port = 0;
    uint32_t baud = 0;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable woken;
    std::thread thread;

    // Sleeps `ms` unless stopped first; false once stopped.
    bool pause(int32_t ms) {
      std::unique_lock<std::mutex> lock(mutex);
      woken.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop.load(); });
      return !stop;
    }
  };

  // Waits for the lifecycle call in progress, then makes this one the call
  // in progress. False (nothing to do) for a module thread told to stop
  // meanwhile. Parked threads are joined on the way in.
  bool enter(std::unique_lock<std::mutex>& lock) {
    life_changed_.wait(lock, [this] { return !busy_ || own_stop_set(); });
    if (busy_) return false;
    busy_ = true;
    joinParked(lock);
    return true;
  }
  void leave(std::unique_lock<std::mutex>&) {
    busy_ = false;
    life_changed_.notify_all();
  }

  void joinParked(std::unique_lock<std::mutex>& lock) {
    std::vector<std::thread> threads;
    for (auto at = parked_.begin(); at != parked_.end();) {
      if (at->get_id() == std::this_thread::get_id()) {
        ++at;
        continue;
      }
      threads.push_back(std::move(*at));
      at = parked_.erase(at);
    }
    if (threads.empty()) return;
    lock.unlock();
    for (std::thread& thread : threads) thread.join();
    lock.lock();
  }

  // Stops `worker` and joins its thread (parks it when it is this thread).
  void retire(std::shared_ptr<Worker> worker, std::unique_lock<std::mutex>& lock) {
    {
      std::lock_guard<std::mutex> hold(worker->mutex);
      worker->stop = true;
    }
    worker->woken.notify_all();
    scanner_ring().interrupt();
    {
      std::lock_guard<std::mutex> hold(scan_mutex_);
      scan_arrived_.notify_all();
    }
    life_changed_.notify_all();
    std::thread thread = std::move(worker->thread);
    if (!thread.joinable()) return;
    if (thread.get_id() == std::this_thread::get_id()) {
      parked_.push_back(std::move(thread));
      return;
    }
    lock.unlock();
    thread.join();
    lock.lock();
  }

  void endConnection(std::unique_lock<std::mutex>& lock) {
    if (connection_) retire(std::move(connection_), lock);
    lock.unlock();
    {
      std::lock_guard<std::mutex> exchange(exchange_mutex_);
      if (transport_) transport_->close();
      transport_ = nullptr;
      open_ = false;
    }
    {
      std::lock_guard<std::mutex> hold(scan_mutex_);
      scan_count_ = 0;
    }
    lock.lock();
  }

  void receive(const std::shared_ptr<Worker>& worker) {
    t_own_stop = &worker->stop;
    ReceiveRing& ring = scanner_ring();
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kScannerBufferSize]);
    while (!worker->stop) {
      if (!ring.wait(Deadline(INT32_MAX), &worker->stop)) continue;
      // Bytes that arrive while an exchange runs are its reply.
      if (exchanges_waiting_ > 0 || !exchange_mutex_.try_lock()) {
        worker->pause(kReceiveBusyMs);
        continue;
      }
      const size_t n = read_reply(ring, chunk.get(), kScannerBufferSize, kReceiveFirstByteMs,
                                  scanner_environment().reply_silence_ms, &worker->stop);
      exchange_mutex_.unlock();
      if (n) deliver(*worker, chunk.get(), n);
    }
  }

  void deliver(Worker& worker, const uint8_t* data, size_t n) {
    if (worker.text_callback) {
      std::u16string text(data, data + n);
      worker.text_callback(text.c_str(), int32_t(n), worker.user);
    } else if (worker.callback) {
      worker.callback(data, int32_t(n), worker.user);
    } else {
      std::lock_guard<std::mutex> lock(scan_mutex_);
      // One scan waits at a time; later ones are dropped until it is taken.
      if (scan_count_ > 0) return;
      std::memcpy(scan_, data, n);
      scan_count_ = n;
      scan_arrived_.notify_all();
    }
  }

  std::mutex life_mutex_;
  std::condition_variable life_changed_;
  bool busy_ = false;
  std::shared_ptr<Worker> connection_;
  std::shared_ptr<Worker> auto_;
  std::vector<std::thread> parked_;

  std::mutex exchange_mutex_;
  std::atomic<int> exchanges_waiting_{0};
  bool open_ = false;
  ScannerTransport* transport_ = nullptr;

  std::mutex scan_mutex_;
  std::condition_variable scan_arrived_;
  uint8_t scan_[kScannerBufferSize];
  size_t scan_count_ = 0;
};

ScannerModule& module() {
  static ScannerModule instance;
  return instance;
}

}  // namespace

ScannerExchange::ScannerExchange() { module().lockExchange(); }
ScannerExchange::~ScannerExchange() { module().unlockExchange(); }

bool ScannerExchange::open() const { return module().isOpen(); }

bool ScannerExchange::write(const uint8_t* data, size_t length) {
  return open() && length <= size_t(INT32_MAX) &&
         module().transport().write(data, int32_t(length)) == int32_t(length);
}

size_t ScannerExchange::read(uint8_t* buffer, size_t capacity, int32_t first_byte_ms,
                             int32_t silence_factor) {
  if (!open()) return 0;
  return read_reply(scanner_ring(), buffer, capacity, first_byte_ms,
                    silence_factor * scanner_environment().reply_silence_ms);
}

int32_t scanner_exchange(const uint8_t* request, size_t length, uint8_t* reply, size_t capacity,
                         size_t* reply_length) {
  ScannerExchange exchange;
  if (!exchange.write(request, length)) return KOVRA_TRANSPORT;
  if (capacity == 0) return KOVRA_OK;
  const size_t n = exchange.read(reply, capacity, kExchangeFirstByteMs);
  if (n == 0) return KOVRA_NO_REPLY;
  if (reply_length) *reply_length = n;
  return KOVRA_OK;
}

uint8_t scanner_last_mode() { return module().last_mode; }
void scanner_remember_mode(uint8_t mode) { module().last_mode = mode; }

extern "C" {

int32_t KOVRA_Open(const KOVRA_Config* config, KOVRA_DataCallback callback, void* user) {
  return module().open(config, callback, nullptr, user);
}

int32_t KOVRA_OpenPort(int16_t port, uint32_t baud, KOVRA_DataCallback callback, void* user) {
  const KOVRA_Config config{port, baud};
  return KOVRA_Open(&config, callback, user);
}

int32_t KOVRA_OpenBstr(int16_t port, uint32_t baud, KOVRA_TextCallback callback, void* user) {
  const KOVRA_Config config{port, baud};
  return module().open(&config, nullptr, callback, user);
}

int32_t KOVRA_Close(void) { return module().close(); }

int32_t KOVRA_StartAutoConnect(int16_t port, uint32_t baud, KOVRA_DataCallback callback,
                               void* user) {
  return module().startAutoConnect(port, baud, callback, user);
}

int32_t KOVRA_StopAutoConnect(void) { return module().stopAutoConnect(); }

int32_t KOVRA_GetVersion(char* text) {
  if (!text) return KOVRA_FAILED;
  std::memcpy(text, kVersion, sizeof kVersion);
  return KOVRA_OK;
}

int32_t KOVRA_ReadScanData(uint16_t timeout, uint8_t* buffer, int32_t capacity, int32_t* length) {
  return module().readScanData(timeout, buffer, capacity, length);
}

int32_t KOVRA_NoOp(int32_t, int32_t, int32_t, int32_t, int32_t) { return KOVRA_FAILED; }

}  // extern "C"
