// Replies out of the receive ring. The module's replies carry no length: a
// reply is what arrives until the line falls silent.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "scanner/receive_ring.h"

// Silence that ends a reply (the environment may lower it for exchanges).
inline constexpr int32_t kReplySilenceMs = 21;
// First-byte budgets: an exchange, the serial probe, a pass of the receive
// thread.
inline constexpr int32_t kExchangeFirstByteMs = 1000;
inline constexpr int32_t kProbeFirstByteMs = 300;
inline constexpr int32_t kReceiveFirstByteMs = 50;

// Reads one reply into `buffer`: its first byte within first_byte_ms, then
// more until silence_ms pass without a new byte or `capacity` is full.
// Returns the reply length (0 when nothing came). A set `stop` with
// ring.interrupt() ends the wait early.
size_t read_reply(ReceiveRing& ring, uint8_t* buffer, size_t capacity, int32_t first_byte_ms,
                  int32_t silence_ms = kReplySilenceMs, const std::atomic<bool>* stop = nullptr);
