#include "family_r42/r42_device.h"

#include <cstring>
#include <new>

#include "connection/ccid_protocol.h"
#include "connection/stx_etx_protocol.h"
#include "platform/byte_helpers.h"
#include "platform/text_helpers.h"

R42Request::R42Request(uint16_t code, size_t capacity) : ByteWriter(inline_, kR42BufferSize) {
  if (capacity > kR42MaxBufferSize) {
    refuse();
  } else if (capacity > kR42BufferSize) {
    heap_.reset(new (std::nothrow) uint8_t[capacity]);
    if (heap_)
      attach(heap_.get(), capacity);
    else
      refuse();
  } else {
    attach(inline_, capacity);
  }
  reply_capacity_ = this->capacity();
  be16(code);
  u8(0);
}

R42Request::R42Request(uint16_t code, uint64_t size, size_t reply_capacity)
    : ByteWriter(inline_, kR42BufferSize) {
  // The framings take an int32 length and wrap it, the CCID message widest.
  constexpr uint64_t kMaxFrameRequest =
      uint64_t(INT32_MAX) - uint64_t(CcidProtocol::kHeader + StxEtxProtocol::kOverhead);
  if (size < r42_cmd::kReplyHead || size > kMaxFrameRequest) {
    refuse();
    return;
  }
  heap_.reset(new (std::nothrow) uint8_t[size]);
  if (!heap_) {
    refuse();
    return;
  }
  attach(heap_.get(), size_t(size));
  reply_capacity_ = reply_capacity < capacity() ? reply_capacity : capacity();
  be16(code);
  u8(0);
}

R42Device::R42Device(const char* profile_name, Port* port, TransportProtocol* protocol)
    : MifarePlusUlcDevice(kMfpMaxBlocks), port_(port), protocol_(protocol) {
  std::memset(profile_name_, 0, sizeof(profile_name_));
  copy_fixed_text(profile_name_, profile_name);
  std::memset(cpu_etu_by_slot_, 92, sizeof(cpu_etu_by_slot_));
}

R42Device::~R42Device() = default;

int16_t R42Device::exchange(R42Request& request, int32_t timeout_ms, size_t min_reply,
                            ByteCursor* payload, int32_t* received) {
  if (request.overflowed() || port_ == nullptr || protocol_ == nullptr) return -1;
  port_->purge();
  return transfer(request, int32_t(request.size()), timeout_ms, min_reply, payload, received);
}

int16_t R42Device::receive(R42Request& area, int32_t timeout_ms, size_t min_reply,
                           ByteCursor* payload) {
  if (area.overflowed() || port_ == nullptr || protocol_ == nullptr) return -1;
  return transfer(area, 0, timeout_ms, min_reply, payload, nullptr);
}

int16_t R42Device::transfer(R42Request& request, int32_t send_length, int32_t timeout_ms,
                            size_t min_reply, ByteCursor* payload, int32_t* received) {
  const int32_t n = protocol_->transceive(request.buffer(), send_length,
                                          int32_t(request.reply_capacity()), timeout_ms);
  if (received != nullptr) *received = n;
  // A protocol claiming more than it was asked for is not trusted either.
  if (n < 2 || size_t(n) > request.reply_capacity()) return -1;
  ByteCursor reply(request.buffer(), size_t(n));
  uint16_t status = 0;
  reply.be16(status);
  last_status_ = status;
  if (status != 0) return -2;
  if (size_t(n) < min_reply) return -1;
  if (payload != nullptr) {
    // Byte 2 carries nothing any command looks at.
    reply.skip(1);
    *payload = ByteCursor(reply.here(), reply.remaining());
  }
  return 0;
}

int16_t R42Device::status_command(uint16_t code, std::initializer_list<uint8_t> params,
                                  int32_t timeout_ms) {
  return data_command(code, params, nullptr, 0, timeout_ms);
}

int16_t R42Device::data_command(uint16_t code, std::initializer_list<uint8_t> params,
                                const void* data, int64_t length, int32_t timeout_ms) {
  if (length < 0 || (data == nullptr && length > 0)) return -1;
  R42Request request(code);
  for (uint8_t b : params) request.u8(b);
  request.bytes(data, size_t(length));
  return exchange(request, timeout_ms, r42_cmd::kStatusOnly);
}

int16_t R42Device::fixed_reply(R42Request& request, uint8_t* out, size_t count) {
  if (out == nullptr) return -1;
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kReplyHead + count, &reply);
  if (result != 0) return result;
  return reply.take(out, count) ? 0 : -1;
}

int16_t R42Device::fixed_text_reply(R42Request& request, uint8_t* out, size_t count) {
  const int16_t result = fixed_reply(request, out, count);
  if (result == 0) out[count] = 0;
  return result;
}

int16_t R42Device::byte_reply(R42Request& request, std::initializer_list<uint8_t*> outs) {
  for (uint8_t* out : outs)
    if (out == nullptr) return -1;
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kReplyHead + outs.size(), &reply);
  if (result != 0) return result;
  for (uint8_t* out : outs)
    if (!reply.u8(*out)) return -1;
  return 0;
}

int16_t R42Device::byte_result(R42Request& request) {
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kReplyHead + 1, &reply);
  if (result != 0) return result;
  uint8_t value = 0;
  return reply.u8(value) ? int16_t(value) : int16_t(-1);
}

int16_t R42Device::copy_reply_data(R42Request& request, int32_t timeout_ms, uint8_t* out,
                                   size_t room, int32_t* count, bool terminate) {
  if (out == nullptr || (count == nullptr && !terminate)) return -1;
  ByteCursor reply(nullptr, 0);
  const int16_t result = exchange(request, timeout_ms, r42_cmd::kDataReply, &reply);
  if (result != 0) return result;
  const size_t length = reply.remaining();
  if (length > room) return -1;
  reply.take(out, length);
  if (terminate) out[length] = 0;
  if (count != nullptr) *count = int32_t(length);
  return 0;
}

int16_t R42Device::counted_reply(R42Request& request, int32_t timeout_ms, uint8_t* out,
                                 size_t room, int32_t* count) {
  return copy_reply_data(request, timeout_ms, out, room, count, false);
}

int16_t R42Device::text_reply(R42Request& request, int32_t timeout_ms, uint8_t* out, size_t room,
                              int32_t* count) {
  return copy_reply_data(request, timeout_ms, out, room, count, true);
}

int16_t R42Device::module_reply(R42Request& request, size_t min_reply, ByteCursor* data) {
  ByteCursor reply(nullptr, 0);
  const int16_t result =
      exchange(request, kR42DefaultTimeoutMs, r42_cmd::kModuleReplyHead, &reply);
  if (result != 0) return result;
  uint16_t module_status = 0xFFFF;
  if (!reply.be16(module_status) || module_status != 0) return -1;
  if (r42_cmd::kModuleReplyHead + reply.remaining() < min_reply) return -1;
  if (data != nullptr) *data = reply;
  return 0;
}

int16_t R42Device::module_counted_reply(R42Request& request, uint8_t* out, int32_t* count) {
  if (out == nullptr || count == nullptr) return -1;
  ByteCursor data(nullptr, 0);
  const int16_t result = module_reply(request, r42_cmd::kModuleReplyHead + 2, &data);
  if (result != 0) return result;
  uint16_t length = 0;
  if (!data.be16(length) || length > data.remaining()) return -1;
  data.take(out, length);
  *count = length;
  return 0;
}

int16_t R42Device::be16_counted_reply(R42Request& request, int32_t timeout_ms, uint8_t* out,
                                      int32_t* count) {
  if (out == nullptr || count == nullptr) return -1;
  ByteCursor reply(nullptr, 0);
  const int16_t result = exchange(request, timeout_ms, r42_cmd::kReplyHead + 2, &reply);
  if (result != 0) return result;
  uint16_t length = 0;
  if (!reply.be16(length) || !reply.take(out, length)) return -1;
  *count = length;
  return 0;
}

namespace {

// What `map` lists for `status`, else `unlisted`.
int16_t listed_result(uint32_t status, std::initializer_list<R42Device::StatusResult> map,
                      int16_t unlisted) {
  for (const R42Device::StatusResult& entry : map)
    if (entry.status == status) return entry.result;
  return unlisted;
}

}  // namespace

int16_t R42Device::map_status(int16_t result, std::initializer_list<StatusResult> map) const {
  return result == -2 ? listed_result(last_status_, map, -2) : result;
}

int16_t R42Device::length_first_exchange(R42Request& request, int32_t timeout_ms,
                                         size_t min_reply,
                                         std::initializer_list<StatusResult> map,
                                         ByteCursor* payload) {
  int32_t received = -1;
  const int16_t result = exchange(request, timeout_ms, min_reply, payload, &received);
  if (received < 0 || size_t(received) < min_reply) return -1;
  return result == -2 ? listed_result(last_status_, map, -1) : result;
}

int16_t R42Device::pin_entry_result(int16_t result) const {
  return map_status(result, kPinEntryStatuses);
}

int16_t R42Device::status_word_itself(int16_t result) const {
  return result == -2 ? int16_t(uint16_t(last_status_)) : result;
}

int16_t R42Device::status_word_negated(int16_t result) const {
  return result == -2 ? int16_t(uint16_t(0x10000u - last_status_)) : result;
}

int32_t R42Device::init(int32_t, int32_t) { return -1; }
int32_t R42Device::init_name(int32_t, int32_t, int32_t) { return -1; }
int16_t R42Device::exit(int32_t) { return -1; }
int16_t R42Device::config(int32_t, uint8_t, uint8_t) { return -1; }
int16_t R42Device::config_card(int32_t, uint8_t) { return 0; }
int16_t R42Device::attrib(int32_t, const uint8_t*, uint8_t) { return 0; }

int16_t R42Device::getname(int32_t, char* name) {
  if (name == nullptr) return -1;
  std::memcpy(name, profile_name_, std::strlen(profile_name_) + 1);
  return 0;
}

int16_t R42Device::GetLastResponseCode(int32_t, int32_t* code) {
  if (code == nullptr) return -1;
  *code = int32_t(last_status_);
  return 0;
}
