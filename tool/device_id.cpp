#include "tool/device_id.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/byte_helpers.h"
#include "platform/dynamic_library.h"
#include "tool/bitmap_writers.h"

namespace {

constexpr int kAddressLength = 6;
constexpr int kIdentifierBytes = 10;
constexpr size_t kIdentifierText = 2 * kIdentifierBytes + 1;
// The digest entry's text buffer: at most 99 characters and a NUL.
constexpr size_t kDigestText = 100;
// Hex digits of the digest that the identifier uses.
constexpr int kDigestDigits = 16;

using DigestEntry = int (*)(int mode, const unsigned char* data, int length, char* out);

// A short text file (a sysfs attribute) without its line end; empty when
// it cannot be read. Never blocks and reads at most 63 bytes.
std::string read_attribute(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  char buffer[64];
  ssize_t got = -1;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    do {
      got = ::read(fd, buffer, sizeof buffer - 1);
    } while (got < 0 && errno == EINTR);
  }
  ::close(fd);
  if (got <= 0) return {};
  std::string text(buffer, size_t(got));
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// A decimal number that fills the whole text, or -1.
long read_number(const std::string& path) {
  const std::string text = read_attribute(path);
  if (text.empty()) return -1;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0' && value >= 0 ? value : -1;
}

// "xx:xx:xx:xx:xx:xx" to six bytes, not all zero.
bool read_address(const std::string& path, uint8_t address[kAddressLength]) {
  const std::string text = read_attribute(path);
  if (text.size() != 3 * kAddressLength - 1) return false;
  bool any = false;
  for (int i = 0; i < kAddressLength; ++i) {
    if (i > 0 && text[size_t(3 * i - 1)] != ':') return false;
    if (hex_to_bytes(&text[size_t(3 * i)], 2, &address[i]) != 1) return false;
    any = any || address[i] != 0;
  }
  return any;
}

// The lowest interface index seen so far among some of the adapters, and
// that adapter's address.
struct AdapterChoice {
  long index = -1;
  std::string name;
  uint8_t address[kAddressLength] = {};

  void offer(long candidate_index, const std::string& candidate_name,
             const uint8_t candidate[kAddressLength]) {
    if (index >= 0 && (candidate_index > index ||
                       (candidate_index == index && candidate_name >= name)))
      return;
    index = candidate_index;
    name = candidate_name;
    std::memcpy(address, candidate, kAddressLength);
  }
};

// The address of an Ethernet adapter (type 1) under `folder`, laid out as
// /sys/class/net. A physical adapter with its permanent address (a device
// behind it, addr_assign_type 0) is preferred: a virtual one (a bridge, an
// ifb or veth pair) may get a new random address whenever it is made, and
// the identifier would change with it. Among the preferred adapters, or
// among all when none is, the lowest interface index wins.
bool first_adapter(const char* folder, uint8_t address[kAddressLength]) {
  DIR* dir = opendir(folder);
  if (!dir) return false;
  AdapterChoice physical, any;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string name = entry->d_name;
    const std::string base = std::string(folder) + "/" + name + "/";
    uint8_t candidate[kAddressLength];
    if (read_number(base + "type") != 1 || !read_address(base + "address", candidate)) continue;
    const long index = read_number(base + "ifindex");
    if (index < 0) continue;
    any.offer(index, name, candidate);
    struct stat device {};
    if (stat((base + "device").c_str(), &device) == 0 &&
        read_number(base + "addr_assign_type") == 0)
      physical.offer(index, name, candidate);
  }
  closedir(dir);
  const AdapterChoice& chosen = physical.index >= 0 ? physical : any;
  if (chosen.index < 0) return false;
  std::memcpy(address, chosen.address, kAddressLength);
  return true;
}

// The folder of the file that holds this code (libtool.so, or a program
// linking it), "" when unknown.
std::string own_folder() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&MakeDeviceId), &info) || !info.dli_fname) return {};
  const std::string file = info.dli_fname;
  const size_t slash = file.rfind('/');
  return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

// A bare name is looked for beside this library first, where it is
// installed, and then through the system's search. The folder is given
// explicitly because the search from here is not reliable: a dlopen
// wrapper (a sanitizer's, an LD_PRELOAD one) becomes the caller whose
// RUNPATH counts.
std::unique_ptr<DynamicLibrary> load_digest_library(const char* name) {
  bool loaded = false;
  std::unique_ptr<DynamicLibrary> library;
  const std::string folder = std::strchr(name, '/') ? std::string() : own_folder();
  if (!folder.empty()) {
    library = std::make_unique<DynamicLibrary>((folder + "/" + name).c_str(), &loaded);
    if (loaded) return library;
  }
  library = std::make_unique<DynamicLibrary>(name, &loaded);
  return loaded ? std::move(library) : nullptr;
}

// Steps 1-6: the identifier into `out`, or -1 with `out` untouched. The
// library is unloaded on every path when `library` goes out of scope.
int make_identifier(const char* net_folder, const char* digest_library, char* out) {
  const std::unique_ptr<DynamicLibrary> library = load_digest_library(digest_library);
  if (!library) return -1;
  const auto digest = reinterpret_cast<DigestEntry>(library->symbol("Encrypt_MD5"));
  if (!digest) return -1;
  uint8_t address[kAddressLength];
  if (!first_adapter(net_folder, address)) return -1;
  char text[kDigestText] = {};
  digest(1, address, kAddressLength, text);
  // The entry's text is not trusted: it must end within the buffer and
  // begin with 16 hex digits.
  if (!std::memchr(text, '\0', sizeof text)) return -1;
  uint8_t id[kIdentifierBytes];
  id[0] = 0xA0;
  if (hex_to_bytes(text, kDigestDigits, id + 1) != kDigestDigits / 2) return -1;
  id[9] = uint8_t(id[0] ^ id[3] ^ id[5] ^ id[6] ^ id[8]);
  bytes_to_hex(id, kIdentifierBytes, out);
  out[2 * kIdentifierBytes] = '\0';
  return 0;
}

}  // namespace

int MakeDeviceId(const char* net_folder, const char* digest_library, char* out,
                 const char* bmp_file) {
  if (!net_folder || !digest_library || !out || !bmp_file) return -1;
  const int result = make_identifier(net_folder, digest_library, out);
  // Whatever `out` holds is drawn, when it is a text within its 21 bytes;
  // an empty text draws nothing.
  if (std::memchr(out, '\0', kIdentifierText)) WriteQrBitmap(bmp_file, out, 3, 0);
  return result;
}
