#include "scanner/discovery.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <tuple>

#include "scanner/environment.h"

namespace {

// The first word of a sysfs attribute; "" when it does not read.
std::string attribute(const std::string& path) {
  std::ifstream file(path);
  std::string word;
  file >> word;
  return word;
}

bool same_hex(const std::string& text, const char* id) {
  return !text.empty() && strcasecmp(text.c_str(), id) == 0;
}

std::vector<std::string> entries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
  }
  closedir(dir);
  return names;
}

struct Tty {
  int kind;
  unsigned long number;
  std::string name;
  bool operator<(const Tty& other) const {
    return std::tie(kind, number, name) < std::tie(other.kind, other.number, other.name);
  }
};

// The serial ttys in listing order; false when the class cannot be read.
bool serial_ttys(std::vector<Tty>* ttys) {
  static const char* const kKinds[] = {"ttyS", "ttyUSB", "ttyACM"};
  const std::string folder = scanner_environment().sysfs_root + "/class/tty";
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  for (const std::string& name : entries(folder)) {
    for (int kind = 0; kind < 3; ++kind) {
      const size_t prefix = std::char_traits<char>::length(kKinds[kind]);
      if (name.compare(0, prefix, kKinds[kind]) != 0 || name.size() == prefix ||
          !std::all_of(name.begin() + long(prefix), name.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        continue;
      const std::string at = folder + "/" + name;
      if (lstat((at + "/device").c_str(), &st) != 0) break;
      if (attribute(at + "/console") == "Y") break;
      if (kind == 0 && attribute(at + "/type") == "0") break;
      ttys->push_back({kind, std::strtoul(name.c_str() + prefix, nullptr, 10), name});
    }
  }
  std::sort(ttys->begin(), ttys->end());
  return true;
}

std::string port_path(const std::string& name) { return scanner_environment().dev_root + "/" + name; }

// The ids of the nearest USB device above `folder` (a resolved path).
std::optional<UsbIds> nearest_usb_ids(std::string folder) {
  char resolved[PATH_MAX];
  if (!realpath(scanner_environment().sysfs_root.c_str(), resolved)) return std::nullopt;
  const std::string root = resolved;
  while (folder.size() > root.size() && folder.compare(0, root.size(), root) == 0) {
    UsbIds ids{attribute(folder + "/idVendor"), attribute(folder + "/idProduct")};
    if (!ids.vendor.empty() && !ids.product.empty()) return ids;
    folder.erase(folder.rfind('/'));
  }
  return std::nullopt;
}

const ScannerUsbRow* matching_row(const UsbIds& ids) {
  for (const ScannerUsbRow& row : kScannerUsbTable) {
    if (same_hex(ids.vendor, row.vendor) && same_hex(ids.product, row.product)) return &row;
  }
  return nullptr;
}

std::optional<UsbIds> scanner_ids_of_tty(const std::string& name) {
  char resolved[PATH_MAX];
  const std::string device = scanner_environment().sysfs_root + "/class/tty/" + name + "/device";
  if (!realpath(device.c_str(), resolved)) return std::nullopt;
  std::optional<UsbIds> ids = nearest_usb_ids(resolved);
  const ScannerUsbRow* row = ids ? matching_row(*ids) : nullptr;
  if (!row) return std::nullopt;
  return UsbIds{row->vendor, row->product};
}

}  // namespace

int32_t list_serial_ports(std::vector<std::string>* paths) {
  std::vector<Tty> ttys;
  if (!serial_ttys(&ttys)) return -1;
  paths->clear();
  for (size_t i = 0; i < ttys.size() && i < kMaxListedPorts; ++i)
    paths->push_back(port_path(ttys[i].name));
  return int32_t(paths->size());
}

int32_t find_usb_scanner_port(std::string* path, UsbIds* ids) {
  std::vector<Tty> ttys;
  if (!serial_ttys(&ttys)) return -1;
  for (const Tty& tty : ttys) {
    if (std::optional<UsbIds> found = scanner_ids_of_tty(tty.name)) {
      *path = port_path(tty.name);
      *ids = *found;
      return 1;
    }
  }
  return -1;
}

std::optional<UsbIds> scanner_ids_of_port(const std::string& path) {
  const size_t slash = path.rfind('/');
  return scanner_ids_of_tty(slash == std::string::npos ? path : path.substr(slash + 1));
}

bool usb_scanner_present(const UsbIds* ids) {
  const std::string folder = scanner_environment().sysfs_root + "/bus/usb/devices";
  for (const std::string& name : entries(folder)) {
    const UsbIds found{attribute(folder + "/" + name + "/idVendor"),
                       attribute(folder + "/" + name + "/idProduct")};
    if (ids ? same_hex(found.vendor, ids->vendor.c_str()) &&
                  same_hex(found.product, ids->product.c_str())
            : matching_row(found) != nullptr)
      return true;
  }
  return false;
}
