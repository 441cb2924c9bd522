// A sysfs tree and device folder in a temporary directory, for scanner
// discovery: class/tty/<name>/{device,console,type}, USB devices with their
// ids (linked from bus/usb/devices), and dev/<name> linked to the node a
// test really opens (a pseudo-terminal slave). Points the scanner
// environment at itself while it lives.
#pragma once

#include <string>

class FakeSysfs {
 public:
  FakeSysfs();
  ~FakeSysfs();
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  // A serial tty whose node is `target`. With ids, its device sits under a
  // USB device of those ids ("0525", "a4a7": sysfs writes lower case).
  void addTty(const std::string& name, const std::string& target, const std::string& vendor = "",
              const std::string& product = "", const std::string& console = "N",
              const std::string& type = "4");
  // Unplugs it: the tty, its node and its USB device disappear.
  void removeTty(const std::string& name);

 private:
  std::string root_;
};
