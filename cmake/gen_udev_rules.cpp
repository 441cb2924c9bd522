// Writes the udev rule that lets the logged-in user open the hidraw nodes of
// the readers: one line per vendor and product pair of the USB rows of the
// device profile table, in table order, with the IDs in lower case as udev
// shows them. Run at build time; the rule is installed with the library.
//
//   gen_udev_rules <output file>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "connection/profile_table.h"
#include "platform/file_helpers.h"
#include "platform/text_helpers.h"

namespace {

bool is_hex4(const std::string& text) {
  if (text.size() != 4) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output file>\n", argv[0]);
    return 2;
  }
  std::string rules =
      "# Readers of libQM_Reader: the logged-in user may open their hidraw nodes.\n"
      "# Generated from the library's device profile table; do not edit.\n";
  std::set<std::pair<std::string, std::string>> seen;
  for (const ProfileRecord& row : kProfileTable) {
    if (std::strcmp(row.port_type, "usb") != 0) continue;
    std::vector<std::string> pieces = split(row.params, ":");
    if (pieces.size() < 2 || !is_hex4(pieces[0]) || !is_hex4(pieces[1])) {
      std::fprintf(stderr, "%s: row %s has no vendor and product ID: %s\n", argv[0], row.name,
                   row.params);
      return 1;
    }
    const std::string vid = str_lower(pieces[0].data());
    const std::string pid = str_lower(pieces[1].data());
    if (!seen.emplace(vid, pid).second) continue;
    rules += "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"" + vid + "\", ATTRS{idProduct}==\"" +
             pid + "\", TAG+=\"uaccess\"\n";
  }
  // A failed write removes the file, so the build stops with no rule left.
  if (!write_file(argv[1], reinterpret_cast<const uint8_t*>(rules.data()), int(rules.size()))) {
    std::perror(argv[1]);
    std::remove(argv[1]);
    return 1;
  }
  return 0;
}
