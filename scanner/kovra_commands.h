// The command set of the scanner module over its exchanges. The public
// entry points are declared in kovra_api.h; this header names the wire
// pieces that tests and the download share.
#pragma once

#include <cstddef>
#include <cstdint>

// Request classes; each reply class is the request's plus one.
inline constexpr uint8_t kScannerSetClass = 0x21;      // "!"
inline constexpr uint8_t kScannerQueryClass = 0x23;    // "#"
inline constexpr uint8_t kScannerControlClass = 0x32;  // "2"
inline constexpr uint8_t kScannerDeviceClass = 0x43;   // "C"
inline constexpr uint8_t kScannerBlockClass = 0x55;    // "U"
inline constexpr uint8_t kScannerBulkClass = 0x60;
inline constexpr uint8_t kScannerConfigClass = 0x16;

// Data blocks: numbers 0-2, up to 2048 bytes written; a read reply holds
// at most a 4096-byte block with its header and CRC.
inline constexpr uint8_t kScannerBlocks = 3;
inline constexpr size_t kScannerBlockWriteMax = 2048;
inline constexpr size_t kScannerBlockReplyMax = 4103;
// Parameter blocks hold at most this many bytes.
inline constexpr size_t kScannerParamBlockMax = 100;
// The bulk read's reply buffer.
inline constexpr size_t kScannerBulkCapacity = 480000;
// Downloads go out in writes of at most this many bytes.
inline constexpr size_t kScannerDownloadChunk = 2048;
