#include "tool/device_id.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "bmp_oracle.h"
#include "platform/test_support.h"

namespace {

constexpr char kIdentifier[] = "A09ABDA0C2BE18B571D7";
const std::string kFixtures = QM_DIGEST_FIXTURE_DIR;
constexpr char kChildMark[] = "QM_DEVICE_ID_CHILD";

// A /sys/class/net look-alike: one folder per adapter.
void add_adapter(const TempDir& net, const std::string& name, int type, const std::string& address,
                 int ifindex) {
  const std::string folder = net.file(name);
  std::filesystem::create_directory(folder);
  std::ofstream(folder + "/type") << type << "\n";
  std::ofstream(folder + "/address") << address << "\n";
  std::ofstream(folder + "/ifindex") << ifindex << "\n";
}

// Loopback, a tunnel, an adapter with a zero address and two Ethernet
// adapters of which eth0 comes first by interface index.
void add_usual_adapters(const TempDir& net) {
  add_adapter(net, "lo", 772, "00:00:00:00:00:00", 1);
  add_adapter(net, "tun0", 769, "02:00:00:00:00:09", 0);
  add_adapter(net, "zero", 1, "00:00:00:00:00:00", 1);
  add_adapter(net, "eth1", 1, "02:00:00:00:00:02", 3);
  add_adapter(net, "eth0", 1, "02:00:00:00:00:01", 2);
}

// What sysfs adds for an adapter: `device` when hardware stands behind it,
// and how its address was given (0 permanent, 1 random, 3 set).
void add_origin(const TempDir& net, const std::string& name, bool device, int assign_type) {
  const std::string folder = net.file(name);
  if (device) std::filesystem::create_directory(folder + "/device");
  std::ofstream(folder + "/addr_assign_type") << assign_type << "\n";
}

bool is_loaded(const std::string& file) {
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

std::string decoded_bitmap(const TempDir& dir, const std::string& bmp) {
  Picture picture;
  const std::string error = parse_bmp(read_text(bmp), picture);
  if (!error.empty()) return error;
  return zbar_decode(picture, 24, dir.file("id.pgm"));
}

}  // namespace

TEST(DeviceId, FirstEthernetAdapterGivesTheWorkedIdentifierAndItsBitmap) {
  TempDir net;
  TempDir out_dir;
  add_usual_adapters(net);
  const std::string bmp = out_dir.file("id.bmp");
  char out[32];
  std::memset(out, '#', sizeof out);
  ASSERT_EQ(0, MakeDeviceId(net.path().c_str(), QM_QOLBIC_LIBRARY, out, bmp.c_str()));
  EXPECT_STREQ(kIdentifier, out);
  EXPECT_EQ('#', out[21]);
  const std::string first = read_text(bmp);
  EXPECT_EQ(47934u, first.size());
  EXPECT_EQ(kIdentifier, decoded_bitmap(out_dir, bmp));
  EXPECT_FALSE(is_loaded(QM_QOLBIC_LIBRARY));

  // Again: the same identifier and the same bitmap; a lower-case digest
  // gives the same identifier too.
  ASSERT_EQ(0, MakeDeviceId(net.path().c_str(), QM_QOLBIC_LIBRARY, out, bmp.c_str()));
  EXPECT_EQ(first, read_text(bmp));
  const std::string lower = kFixtures + "/digest_lower_case.dll";
  ASSERT_EQ(0, MakeDeviceId(net.path().c_str(), lower.c_str(), out, bmp.c_str()));
  EXPECT_STREQ(kIdentifier, out);
}

// A bridge or an ifb interface made at boot may come first by index and
// take a new random address each time: the hardware adapter with its
// permanent address is the one that names the computer.
TEST(DeviceId, PhysicalAdapterWithItsPermanentAddressComesFirst) {
  TempDir net;
  TempDir out_dir;
  const std::string bmp = out_dir.file("id.bmp");
  add_usual_adapters(net);
  add_origin(net, "eth0", true, 0);
  add_adapter(net, "ifb0", 1, "5A:11:22:33:44:55", 0);
  add_origin(net, "ifb0", false, 1);
  // Hardware whose address was set by hand is no better than a virtual one.
  add_adapter(net, "usb0", 1, "02:00:00:00:00:07", 1);
  add_origin(net, "usb0", true, 3);
  char out[32];
  ASSERT_EQ(0, MakeDeviceId(net.path().c_str(), QM_QOLBIC_LIBRARY, out, bmp.c_str()));
  EXPECT_STREQ(kIdentifier, out);
}

class DeviceIdDigest : public ::testing::TestWithParam<const char*> {};

TEST_P(DeviceIdDigest, UntrustedDigestTextFailsAndUnloads) {
  TempDir net;
  TempDir out_dir;
  add_usual_adapters(net);
  const std::string library = kFixtures + "/digest_" + GetParam() + ".dll";
  const std::string file = kFixtures + "/libdigest_" + GetParam() + ".so";
  ASSERT_TRUE(std::filesystem::exists(file));
  char out[21] = "KEEP";
  const std::string bmp = out_dir.file("id.bmp");
  EXPECT_EQ(-1, MakeDeviceId(net.path().c_str(), library.c_str(), out, bmp.c_str()));
  EXPECT_STREQ("KEEP", out);
  EXPECT_FALSE(is_loaded(file));
  // What `out` held is drawn.
  EXPECT_EQ("KEEP", decoded_bitmap(out_dir, bmp));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DeviceIdDigest,
                         ::testing::Values("no_entry", "short_text", "unterminated", "non_hex"));

TEST(DeviceId, NoAdapterOrLibraryFailsAndDrawsOnlyATerminatedText) {
  TempDir net;
  TempDir out_dir;
  const std::string lower = kFixtures + "/digest_lower_case.dll";
  const std::string lower_file = kFixtures + "/libdigest_lower_case.so";
  const std::string bmp = out_dir.file("id.bmp");
  add_adapter(net, "lo", 772, "00:00:00:00:00:00", 1);
  add_adapter(net, "odd", 1, "02:00:00:00:00", 2);
  add_adapter(net, "long", 1, "02:00:00:00:00:01:07", 3);
  add_adapter(net, "nohex", 1, "02:00:00:00:0g:01", 4);
  add_adapter(net, "dashes", 1, "02-00-00-00-00-01", 5);
  std::filesystem::create_directory(net.file("empty"));

  // An empty text is refused by the encoder: no bitmap.
  char out[21] = "";
  EXPECT_EQ(-1, MakeDeviceId(net.path().c_str(), lower.c_str(), out, bmp.c_str()));
  EXPECT_FALSE(is_loaded(lower_file));
  EXPECT_STREQ("", out);
  EXPECT_FALSE(std::filesystem::exists(bmp));
  EXPECT_EQ(-1, MakeDeviceId(net.file("missing").c_str(), lower.c_str(), out, bmp.c_str()));
  EXPECT_EQ(-1, MakeDeviceId(net.path().c_str(), "/nonexistent/qolbic.dll", out, bmp.c_str()));

  // 21 bytes without a NUL are not a text: nothing is read past them and
  // nothing is drawn.
  char unterminated[22];
  std::memset(unterminated, 'A', 21);
  unterminated[21] = '\0';
  EXPECT_EQ(-1, MakeDeviceId(net.path().c_str(), lower.c_str(), unterminated, bmp.c_str()));
  EXPECT_FALSE(std::filesystem::exists(bmp));

  EXPECT_EQ(-1, MakeDeviceId(nullptr, lower.c_str(), out, bmp.c_str()));
  EXPECT_EQ(-1, MakeDeviceId(net.path().c_str(), nullptr, out, bmp.c_str()));
  EXPECT_EQ(-1, MakeDeviceId(net.path().c_str(), lower.c_str(), nullptr, bmp.c_str()));
  EXPECT_EQ(-1, MakeDeviceId(net.path().c_str(), lower.c_str(), out, nullptr));
  EXPECT_TRUE(out_dir.empty());
}

// libtool.so finds libqolbic.so in its own folder with no search path set:
// the export alone in a folder fails, beside the digest library it gives
// what the internal function gives for the machine's adapters.
TEST(DeviceId, LibtoolLoadsTheDigestLibraryFromItsOwnFolder) {
  if (!std::getenv(kChildMark)) {
    EXPECT_EQ(0, run_test_in_child("DeviceId.LibtoolLoadsTheDigestLibraryFromItsOwnFolder",
                                    {"LD_LIBRARY_PATH", std::string(kChildMark) + "=1"}));
    return;
  }
  using GetDeviceId = int (*)(char*, const char*);
  TempDir alone;
  TempDir beside;
  TempDir out_dir;
  std::filesystem::copy_file(QM_TOOL_LIBRARY, alone.file("libtool.so"));
  std::filesystem::copy_file(QM_TOOL_LIBRARY, beside.file("libtool.so"));
  std::filesystem::copy_file(QM_QOLBIC_LIBRARY, beside.file("libqolbic.so"));
  const std::string bmp = out_dir.file("id.bmp");

  // The test's own loads come last, so that no digest library is loaded
  // when libtool.so looks for one.
  int results[2];
  char outs[2][21] = {};
  const TempDir* folders[2] = {&alone, &beside};
  for (int i = 0; i < 2; ++i) {
    void* tool = dlopen(folders[i]->file("libtool.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, tool) << dlerror();
    auto* get = reinterpret_cast<GetDeviceId>(dlsym(tool, "Tool_GetDeviceID"));
    if (!get) {
      dlclose(tool);
      GTEST_SKIP() << "libtool.so has no Tool_GetDeviceID export yet";
    }
    results[i] = get(outs[i], bmp.c_str());
    dlclose(tool);
  }
  char expected[21] = "";
  const int expected_result = MakeDeviceId("/sys/class/net", QM_QOLBIC_LIBRARY, expected, bmp.c_str());
  EXPECT_EQ(-1, results[0]);
  EXPECT_EQ(expected_result, results[1]);
  EXPECT_STREQ(expected, outs[1]);
}
