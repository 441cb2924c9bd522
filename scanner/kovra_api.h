// The scanner module's API: connection, exchanges and the module's command
// set. C linkage, internal to the reader library (the product API's QR
// exports call it; nothing of it is exported).
//
// Results: 1 success; 0 failure or time-out; the negative codes below.
// One scanner per process: every call works on the same connection.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct KOVRA_Config {
  // Negative: found on a serial port (-1 through the scanner's USB ids);
  // 0 to 1099: that serial port; 1100 and above: the USB HID scanner.
  int16_t port;
  // Of an explicit serial port.
  uint32_t baud;
};

// Called on the module's receive thread with each chunk received.
typedef int32_t (*KOVRA_DataCallback)(const uint8_t* data, int32_t length, void* user);
// The same chunk widened byte by byte to UTF-16 and NUL-terminated; the
// text is the module's and lives until the callback returns.
typedef int32_t (*KOVRA_TextCallback)(const char16_t* text, int32_t units, void* user);

enum {
  KOVRA_OK = 1,
  KOVRA_FAILED = 0,
  KOVRA_TRANSPORT = -1,  // transport failure, or no connection open
  KOVRA_NO_REPLY = -2,
  KOVRA_READ_FAILED = -3,
  KOVRA_CONNECT_FAILED = -4,
  KOVRA_NO_MUTEX = -6,
  KOVRA_BAD_REPLY = -7,
  KOVRA_TOO_SMALL = -9,
  KOVRA_NO_BUFFER = -10,
  KOVRA_BAD_PARAMETER = -11,
  KOVRA_TOO_LARGE = -12,
  KOVRA_NO_FILE = -13,
  KOVRA_CRC = -14,
};

// Connection.
int32_t KOVRA_Open(const KOVRA_Config* config, KOVRA_DataCallback callback, void* user);
int32_t KOVRA_OpenPort(int16_t port, uint32_t baud, KOVRA_DataCallback callback, void* user);
int32_t KOVRA_OpenBstr(int16_t port, uint32_t baud, KOVRA_TextCallback callback, void* user);
int32_t KOVRA_Close(void);
int32_t KOVRA_StartAutoConnect(int16_t port, uint32_t baud, KOVRA_DataCallback callback,
                               void* user);
int32_t KOVRA_StopAutoConnect(void);
int32_t KOVRA_IsPresent(void);
int32_t KOVRA_GetVersion(char* text);

// Exchanges of the classes "!", "#", "C" and "2".
int32_t KOVRA_Command21(const uint8_t* payload, int32_t length, uint8_t* reply,
                        int32_t capacity, int32_t* reply_length);
int32_t KOVRA_Command23(const uint8_t* payload, int32_t length, uint8_t* reply,
                        int32_t capacity, int32_t* reply_length);
int32_t KOVRA_Command43(const uint8_t* payload, int32_t length, uint8_t* reply,
                        int32_t capacity, int32_t* reply_length);
int32_t KOVRA_Command32(const uint8_t* payload, int32_t length, uint8_t* reply,
                        int32_t capacity, int32_t* reply_length);
int32_t KOVRA_StartScan(void);
int32_t KOVRA_StopScan(void);
int32_t KOVRA_SetMode(uint8_t mode);
int32_t KOVRA_Set_bA(uint8_t value);
int32_t KOVRA_Set_bB(uint8_t value);
// Takes a scan that waits in the scan buffer, waiting up to
// (max(timeout, 1) + 1) x 100 ms for one.
int32_t KOVRA_ReadScanData(uint16_t timeout, uint8_t* buffer, int32_t capacity, int32_t* length);

// The rest of the command set.
int32_t KOVRA_GetImageCapacity(void);
int32_t KOVRA_SendImage(const char* path);
int32_t KOVRA_SendFile(const char* path);
int32_t KOVRA_ConfigCommand(uint8_t command, const uint8_t* data, int32_t length);
int32_t KOVRA_SetParam(uint16_t code, uint16_t value);
int32_t KOVRA_SetParamBlock(uint16_t code, const uint8_t* data, int32_t length);
int32_t KOVRA_GetParam(uint16_t code, uint16_t* value);
// `buffer` takes up to 100 bytes.
int32_t KOVRA_GetParamBlock(uint16_t code, uint8_t* buffer, int32_t* length);
int32_t KOVRA_ReadDataBlock(uint8_t block, uint8_t* buffer, int32_t capacity, int32_t* length);
int32_t KOVRA_WriteDataBlock(uint8_t block, const uint8_t* data, int32_t length);
int32_t KOVRA_ReadBulkData(uint8_t* buffer, int32_t* capacity, int32_t* first, int32_t* second);
int32_t KOVRA_NoOp(int32_t, int32_t, int32_t, int32_t, int32_t);

}  // extern "C"

// --- inside the module ------------------------------------------------------

// The largest request and reply of an exchange (the scan buffer holds as much).
inline constexpr size_t kScannerBufferSize = 4096;

// Holds the library mutex for one exchange (or a download): the receive
// thread reads nothing meanwhile. Writes and reads fail when no connection
// is open.
class ScannerExchange {
 public:
  ScannerExchange();
  ~ScannerExchange();
  ScannerExchange(const ScannerExchange&) = delete;
  ScannerExchange& operator=(const ScannerExchange&) = delete;

  bool open() const;
  // True when every byte went out.
  bool write(const uint8_t* data, size_t length);
  // A reply: its first byte within first_byte_ms, ended by a full buffer or
  // by silence (the environment's reply silence, times `silence_factor`).
  // Its length; 0 when nothing came.
  size_t read(uint8_t* buffer, size_t capacity, int32_t first_byte_ms, int32_t silence_factor = 1);
};

// Writes `request` and, with a capacity, reads the reply: 1 (with the
// reply's length), -1 when no connection is open or the write failed, -2
// when no reply came.
int32_t scanner_exchange(const uint8_t* request, size_t length, uint8_t* reply, size_t capacity,
                         size_t* reply_length);

// The last mode set (0 until one is), which the bulk read names.
uint8_t scanner_last_mode();
void scanner_remember_mode(uint8_t mode);
