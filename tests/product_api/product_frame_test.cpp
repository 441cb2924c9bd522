// The product API's frame: opening with its port numbers, the product
// trace, every forwarder reaching its slot, and the exports that add to a
// core operation.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <thread>

#include "core_api/memory_transport.h"
#include "product_api/generated/product_member_calls.h"
#include "product_api/product_rows.h"
#include "product_api/product_trace.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;

TEST(ProductOpenClose, SerialPortsCountFromOneAndOthersPassUnchanged) {
  TraceDir dir;
  set_trace_level(2);
  kx_config_port_name(0, "/nonexistent/qm_tty");
  kx_config_port_name(98, "/nonexistent/qm_tty");
  for (int16_t port : {1, 99, 480, 0, -5, 500}) EXPECT_EQ(qm_init(port, 9600), port > 0 ? -1 : -22);
  kx_config_port_name(0, "");
  kx_config_port_name(98, "");
  std::vector<std::string> ports;
  bool init = false;
  for (const std::string& line : dir.lines()) {
    if (line.rfind("function:", 0) == 0) init = line == trace_lines::fn("kx_init");
    if (init && line.rfind("  parameter:[port[in]]", 0) == 0)
      ports.push_back(line.substr(line.find(']', 24) + 1));
  }
  EXPECT_EQ(ports, (std::vector<std::string>{"0", "98", "480", "500"}));
  const std::string failed = gbk("初始化错误\n"), refused = gbk("端口错误\n");
  EXPECT_EQ(product_messages(dir),
            (std::vector<std::string>{failed, failed, failed, refused, refused, failed}));

  MemoryTransportReader reader;
  PortProvider provider = reader.provider();
  CoreConfigure(KX_CFG_CALLBACKS, &provider);
  EXPECT_EQ(qm_init(480, 115200), 560);
  EXPECT_EQ(qm_exit(560), 0);
  CoreConfigure(KX_CFG_CALLBACKS, nullptr);
}

TEST(ProductTrace, LineBytesModeAndNoLinkFollowed) {
  TraceDir dir;
  const std::string file = product_trace_file(dir);
  FacadeTrace("100%s\n");
  FacadeTrace(std::string(5000, 'x').c_str());
  std::ifstream in(file, std::ios::binary);
  const std::string all{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::regex whole(
      R"(\[\d{4}-\d\d-\d\d_\d\d:\d\d:\d\d\]  100%s\n\n  \[product_trace\.cpp::89\]\n)"
      R"(\[\d{4}-\d\d-\d\d_\d\d:\d\d:\d\d\]  x{4072})");
  EXPECT_TRUE(std::regex_match(all, whole)) << all.substr(0, 120);
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A link in the file's place is not followed: the line is dropped.
  const std::string target = dir.root() + "elsewhere";
  std::ofstream(target).close();
  ASSERT_EQ(unlink(file.c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), file.c_str()), 0);
  FacadeTrace("linked\n");
  EXPECT_EQ(std::filesystem::file_size(target), 0u);
}

TEST(ProductTrace, LinesOfTwoThreadsStayWhole) {
  TraceDir dir;
  auto writer = [](char c) {
    for (int i = 0; i < 500; ++i) FacadeTrace(std::string(300, c).c_str());
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  const std::vector<std::string> messages = product_messages(dir);
  ASSERT_EQ(messages.size(), 1000u);
  for (const std::string& m : messages)
    EXPECT_TRUE(m == std::string(300, 'a') || m == std::string(300, 'b'));
}

// Distinct values and a buffer per pointer for each argument; every call
// must reach its slot once with them.
struct ForwardProbe {
  RecordingDevice* device;
  uint32_t next = 1;
  std::deque<std::vector<uint8_t>> buffers;
  int calls = 0;

  int32_t handle() { return kProductHandle; }
  template <typename T>
  T value() {
    return static_cast<T>(0x80000000u | (next++ * 0x01030507u));
  }
  template <typename T>
  T* pointer() {
    return reinterpret_cast<T*>(buffers.emplace_back(64, 0).data());
  }
  void no_result(int slot, const char* name, const std::vector<uint64_t>& args) {
    next = 1;
    ++calls;
    ASSERT_EQ(device->calls.size(), 1u) << name;
    EXPECT_EQ(device->calls[0].slot, slot) << name;
    EXPECT_EQ(device->calls[0].args, args) << name;
    device->calls.clear();
  }
  template <typename R>
  void result(int slot, const char* name, const std::vector<uint64_t>& args, R) {
    no_result(slot, name, args);
  }
};

TEST(ProductForwarders, EachReachesItsSlotWithItsArguments) {
  InstalledDevice device(kProductHandle - 80);
  ForwardProbe probe;
  probe.device = &*device;
  call_every_product_forwarder(probe);
  EXPECT_EQ(probe.calls, 171);  // 167 exported, 4 kept inside
}

// qm_hex_a's success is shown by the install-and-link program.
TEST(ProductForwarders, HexConvertersRefuseWhatTheyCannotConvert) {
  uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(qm_a_hex("12ab", out, 4), 0);
  EXPECT_EQ(out[1], 0xAB);
  for (auto [hex, count] : {std::pair{"123", 3}, {"12G4", 4}, {"12", -2}}) {
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(qm_a_hex(hex, out, int16_t(count)), -1) << hex;
    EXPECT_EQ(out[0], 0xEE) << hex;
  }
  EXPECT_EQ(qm_ReadQMEF06(80, nullptr), 0);
}

// qm_write_hex refuses, with no card write, what is no block of hex (the
// trace keeps the text); a shorter text is zero-filled by the MIFARE write
// row. qm_getver puts the product name over the reader's version.
Row::Call write_hex(const char* text) {
  std::vector<std::string> traced;
  if (text) traced.push_back(text);
  return product<R42MemoryReader>([text](Call&) { return qm_write_hex(kProductHandle, 5, text); },
                                  traced);
}
Row::Call getver() {
  return product<R42MemoryReader>([](Call& c) { return qm_getver(kProductHandle, c.text()); });
}

const Row kSpecials[] = {
    Row("write_hex_33_characters", write_hex("000102030405060708090A0B0C0D0E0F0")).gives(-1),
    Row("write_hex_odd", write_hex("012")).gives(-1),
    Row("write_hex_null", write_hex(nullptr)).gives(-1),
    Row("getver_behind_the_product_name", getver())
        .given([](R42ReaderModel::State& s) { s.version = "V5.12ab"; })
        .sends("0F 10 00").gives(0).text("QM500-00112ab"),
    Row("getver_short_version_ends_after_the_name", getver())
        .given([](R42ReaderModel::State& s) { s.version = "V5"; })
        .sends("0F 10 00").gives(0).text("QM500-001"),
};
WIRE_TABLE(ProductSpecials, R42MemoryReader, kSpecials);

}  // namespace
