// What the scanner module reaches of the system, gathered in one place so
// that tests can point it elsewhere: the tty behind an explicit port, the
// HID stack, the sysfs and device folders that discovery reads, the
// transport itself, and the image loader of the image download.
//
// Set it while no scanner is open; the module reads it on each open.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "scanner/ring_reader.h"

class HidBackend;
class ScannerTransport;

// An image as the display download sends it: one grey byte per pixel, top
// row first.
struct GreyImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> pixels;
};

struct ScannerEnvironment {
  // The tty of an explicit port number; ports not listed are ttyS<n-1>.
  std::map<int, std::string> port_paths;
  // Null: hidapi.
  HidBackend* hid = nullptr;
  std::string sysfs_root = "/sys";
  std::string dev_root = "/dev";
  // Null: serial or HID by the port number.
  ScannerTransport* transport = nullptr;
  // Null: SOIL, loaded at the first image. False when the file does not load.
  std::function<bool(const char* path, GreyImage* image)> load_image;
  // The silence that ends a reply or a scan; the bulk read waits ten times
  // as long. Lowered only where replies arrive whole (fuzzing).
  int32_t reply_silence_ms = kReplySilenceMs;
};

ScannerEnvironment& scanner_environment();
// The environment's HID stack, or hidapi.
HidBackend& scanner_hid_backend();
