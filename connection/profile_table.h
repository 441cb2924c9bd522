// The built-in table of device profiles: each row names a reader model and
// fixes how it is attached (port type, port parameter text, framing family).
// The table is read-only; there is no way to add a profile at run time.
#pragma once

#include <cstddef>

struct ProfileRecord {
  char name[64];             // "m6-..." or "r42-..."; unique in the table
  char port_type[64];        // "com", "usb", "pcsc", "bluetooth" or "vnet"
  char params[2048];         // port parameter text; its form depends on port_type
  char family[64];           // framing family: "m6s", "m6u", "r42" or "pcscr42"
  char expect_version[256];  // prefix the version text must have; empty = any
  char expect_serial[256];   // prefix the serial text must have; empty = any
};
static_assert(sizeof(ProfileRecord) == 2752, "profile rows have a fixed size");

inline constexpr size_t kProfileCount = 40;

// Rows in search order. Text fields are NUL-terminated and zero-filled after
// the terminator. Compare fields as whole texts (case-sensitive).
extern const ProfileRecord kProfileTable[kProfileCount];
