// The computer's device identifier, drawn as a QR code.
#pragma once

// Makes the 20-character identifier from the first Ethernet adapter found
// under `net_folder` (a /sys/class/net layout) and the digest entry of the
// library `digest_library` (loaded by the platform name rule), writes it
// with a NUL to `out` (21 bytes), then draws what `out` holds into
// `bmp_file`. 0 when the identifier was made, else -1.
int MakeDeviceId(const char* net_folder, const char* digest_library, char* out,
                 const char* bmp_file);
