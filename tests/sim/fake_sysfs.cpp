#include "sim/fake_sysfs.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "scanner/environment.h"

namespace fs = std::filesystem;

FakeSysfs::FakeSysfs() {
  char folder[] = "/tmp/fake-sysfs-XXXXXX";
  if (mkdtemp(folder)) root_ = folder;
  for (const char* dir : {"/sys/class/tty", "/sys/bus/usb/devices", "/dev"})
    fs::create_directories(root_ + dir);
  scanner_environment().sysfs_root = root_ + "/sys";
  scanner_environment().dev_root = root_ + "/dev";
}

FakeSysfs::~FakeSysfs() {
  scanner_environment().sysfs_root = "/sys";
  scanner_environment().dev_root = "/dev";
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void FakeSysfs::addTty(const std::string& name, const std::string& target,
                       const std::string& vendor, const std::string& product,
                       const std::string& console, const std::string& type) {
  const fs::path sys = root_ + "/sys";
  fs::path device = sys / "devices/platform" / name;
  if (!vendor.empty()) {
    // The USB device, its interface, and the port under the interface.
    const fs::path usb = sys / "devices/usb1" / ("1-" + name);
    fs::create_directories(usb);
    std::ofstream(usb / "idVendor") << vendor << "\n";
    std::ofstream(usb / "idProduct") << product << "\n";
    fs::create_symlink(usb, sys / "bus/usb/devices" / ("1-" + name));
    device = usb / "1-1:1.0" / name;
  }
  fs::create_directories(device);
  const fs::path tty = sys / "class/tty" / name;
  fs::create_directories(tty);
  fs::create_symlink(device, tty / "device");
  std::ofstream(tty / "console") << console << "\n";
  std::ofstream(tty / "type") << type << "\n";
  fs::create_symlink(target, fs::path(root_) / "dev" / name);
}

void FakeSysfs::removeTty(const std::string& name) {
  const fs::path sys = root_ + "/sys";
  std::error_code ignored;
  for (const fs::path& path : {sys / "class/tty" / name, sys / "bus/usb/devices" / ("1-" + name),
                               sys / "devices/usb1" / ("1-" + name),
                               sys / "devices/platform" / name, fs::path(root_) / "dev" / name})
    fs::remove_all(path, ignored);
}
