#include "sim/recording_protocol.h"

#include <cstring>
#include <utility>

RecordingProtocol::RecordingProtocol(Port* port, TransportProtocol* real)
    : TransportProtocol(port), real_(real) {}

RecordingProtocol::RecordingProtocol(NullPort* port, Answer answer)
    : TransportProtocol(port), null_port_(port), answer_(std::move(answer)) {}

void RecordingProtocol::scriptReply(Bytes reply, int nth) { script(std::move(reply), nth); }

void RecordingProtocol::scriptFailure(int nth) { script(std::nullopt, nth); }

void RecordingProtocol::script(std::optional<Bytes> reply, int nth) {
  scripts_[exchanges_ + size_t(nth < 1 ? 1 : nth) - 1] = std::move(reply);
}

int32_t RecordingProtocol::deliver(const std::optional<Bytes>& reply, uint8_t* buffer,
                                   int32_t capacity) {
  if (!reply || reply->size() > size_t(capacity < 0 ? 0 : capacity)) return -1;
  if (reply->empty()) return 0;
  if (buffer == nullptr) return -1;
  std::memcpy(buffer, reply->data(), reply->size());
  return int32_t(reply->size());
}

int32_t RecordingProtocol::transceive(uint8_t* buffer, int32_t send_length, int32_t capacity,
                                      int32_t timeout_ms) {
  Call call{Bytes(), capacity, timeout_ms, -1, null_port_ ? null_port_->purges : -1};
  if (buffer != nullptr && send_length > 0) call.request.assign(buffer, buffer + send_length);
  const auto script = scripts_.find(exchanges_++);
  if (send_length > 0) held_.reset();
  if (script != scripts_.end()) {
    call.result = deliver(script->second, buffer, capacity);
    scripts_.erase(script);
  } else if (real_ != nullptr) {
    call.result = real_->transceive(buffer, send_length, capacity, timeout_ms);
  } else if (send_length >= 0 && (buffer != nullptr || send_length == 0) && answer_) {
    std::optional<Bytes> reply =
        send_length == 0 && held_ ? std::move(held_) : answer_(call.request);
    held_.reset();
    if (capacity == 0 && send_length > 0 && reply && !reply->empty()) {
      // Sent without waiting: the reply stays on the line for a receive.
      held_ = std::move(reply);
      call.result = 0;
    } else {
      call.result = deliver(reply, buffer, capacity);
    }
  }
  calls.push_back(std::move(call));
  return calls.back().result;
}
