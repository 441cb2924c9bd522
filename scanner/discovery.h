// Where a serial scanner may be: the serial ports the system lists, the
// ports of USB serial bridges whose ids are those of a scanner, and whether
// such a bridge is plugged in. All of it is read from sysfs (under the
// environment's sysfs root); the ports are device nodes under its device
// root.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A scanner behind a USB serial bridge: the bridge's ids as hex text.
struct ScannerUsbRow {
  const char* name;
  const char* vendor;
  const char* product;
  int32_t baud;
};
inline constexpr ScannerUsbRow kScannerUsbTable[] = {
    {"Nolt", "0525", "A4A7", 115200},
    {"Noltdsp", "0416", "5011", 115200},
};

struct UsbIds {
  std::string vendor;
  std::string product;
};

// The most ports a listing gives.
inline constexpr size_t kMaxListedPorts = 20;

// The serial ports: ttyS*, ttyUSB* and ttyACM* with a device behind them,
// less consoles and ttyS ports without a UART; by kind in that order, then
// number; the first 20, as device paths. The count, or -1 when the tty
// class cannot be read.
int32_t list_serial_ports(std::vector<std::string>* paths);

// The first of those ports whose USB device has the ids of a row of
// kScannerUsbTable: 1 with its path and the row's ids, or -1 when there is
// none.
int32_t find_usb_scanner_port(std::string* path, UsbIds* ids);

// The ids of the row of kScannerUsbTable that the USB device behind the
// port at `path` matches, if any.
std::optional<UsbIds> scanner_ids_of_port(const std::string& path);

// Whether a USB device with `ids` is plugged in (any row of the table when
// null).
bool usb_scanner_present(const UsbIds* ids);
