// Handle entries own their port, protocol and device, and let them go port
// first: whether closed, replaced, moved from, or torn down with the table.
#include <string>
#include <utility>
#include <vector>

#include "device_manager_fixture_test.h"
#include "family_r42/r42_device.h"

namespace {

using Log = std::vector<std::string>;

class LoggedPort : public Port {
 public:
  LoggedPort(Log& log, std::string name) : log_(log), name_(std::move(name)) {}
  ~LoggedPort() override { log_.push_back(name_ + " port"); }
  void close() override {}
  bool read(uint8_t*, int32_t, int32_t) override { return false; }
  bool write(const uint8_t*, int32_t, int32_t) override { return false; }
  void purge() override {}
  int32_t available() override { return 0; }
  bool isOpen() override { return true; }
  bool reopen() override { return true; }

 private:
  Log& log_;
  std::string name_;
};

class LoggedProtocol : public TransportProtocol {
 public:
  LoggedProtocol(Log& log, std::string name, Port* port)
      : TransportProtocol(port), log_(log), name_(std::move(name)) {}
  ~LoggedProtocol() override { log_.push_back(name_ + " protocol"); }
  int32_t transceive(uint8_t*, int32_t, int32_t, int32_t) override { return -1; }

 private:
  Log& log_;
  std::string name_;
};

class LoggedDevice : public ReaderDevice {
 public:
  LoggedDevice(Log& log, std::string name) : log_(log), name_(std::move(name)) {}
  ~LoggedDevice() override { log_.push_back(name_ + " device"); }

 private:
  Log& log_;
  std::string name_;
};

// The three objects of one reader, each logging its own deletion.
struct Reader {
  Reader(Log& log, const std::string& name)
      : port(new LoggedPort(log, name)),
        protocol(new LoggedProtocol(log, name, port)),
        device(new LoggedDevice(log, name)) {}
  Port* port;
  TransportProtocol* protocol;
  ReaderDevice* device;
};

Log released(const std::string& name) {
  return {name + " port", name + " protocol", name + " device"};
}

Log concat(Log a, const Log& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(DeviceManagerEntry, EntryReleasesPortThenProtocolThenDeviceOnce) {
  Log log;
  Reader a(log, "a");
  {
    HandleEntry entry(a.port, a.protocol, a.device);
    entry.release();
    EXPECT_EQ(log, released("a"));
    EXPECT_EQ(entry.port, nullptr);
    EXPECT_EQ(entry.protocol, nullptr);
    EXPECT_EQ(entry.device, nullptr);
    entry.release();
  }
  EXPECT_EQ(log, released("a")) << "an empty entry releases nothing again";

  // A moved entry hands everything over; only the new owner releases it.
  log.clear();
  Reader b(log, "b");
  {
    HandleEntry from(b.port, b.protocol, b.device);
    HandleEntry to(std::move(from));
    EXPECT_EQ(from.device, nullptr);
    EXPECT_EQ(to.device.get(), b.device);
    from.release();
    EXPECT_TRUE(log.empty());
  }
  EXPECT_EQ(log, released("b"));

  // Assigning over an occupied entry lets the old reader go first.
  log.clear();
  Reader c(log, "c");
  Reader d(log, "d");
  {
    HandleEntry entry(c.port, c.protocol, c.device);
    entry = HandleEntry(d.port, d.protocol, d.device);
    EXPECT_EQ(log, released("c"));
    EXPECT_EQ(entry.device.get(), d.device);
  }
  EXPECT_EQ(log, concat(released("c"), released("d")));
}

TEST(DeviceManagerEntry, TableEntriesAreReleasedInOrderAndOnlyTheirOwn) {
  Log log;
  Reader first(log, "0");
  Reader second(log, "1");
  Reader last(log, "499");
  Reader again(log, "1 again");
  {
    DeviceManager manager(reader_device_makers());
    manager.installForTest(499, last.port, last.protocol, last.device);
    manager.installForTest(0, first.port, first.protocol, first.device);
    manager.installForTest(1, second.port, second.protocol, second.device);
    EXPECT_EQ(manager.deviceAt(1), second.device);

    manager.installForTest(1, again.port, again.protocol, again.device);
    EXPECT_EQ(log, released("1"));
    EXPECT_EQ(manager.deviceAt(1), again.device);
    EXPECT_EQ(manager.deviceAt(0), first.device) << "a neighbour stays";

    log.clear();
    manager.close(1);
    EXPECT_EQ(log, released("1 again"));
    EXPECT_EQ(manager.deviceAt(1), nullptr);
    log.clear();
  }
  EXPECT_EQ(log, concat(released("0"), released("499"))) << "first entry first at teardown";
}

// A maker table decides which rows can give a reader: a row whose name
// begins with no prefix of the table builds no device and is refused.
std::vector<std::string> made_names;

std::unique_ptr<ReaderDevice> make_logged_r42(const char* name, Port* port,
                                              TransportProtocol* protocol) {
  made_names.emplace_back(name);
  return std::make_unique<R42Device>(name, port, protocol);
}

TEST(DeviceManagerEntry, MakersChooseTheDeviceOfEachRow) {
  const DeviceMaker r42_only[] = {{"r42-", &make_logged_r42}};
  R42OnPty reader;
  PortNames names;
  {
    DeviceManager manager(r42_only);
    names.set(manager, 0, reader.path());
    made_names.clear();
    ASSERT_EQ(manager.openByPort(0, 9600), 0);
    EXPECT_EQ(made_names, std::vector<std::string>{"r42-s9600"}) << "the m6 row made nothing";
    EXPECT_EQ(device_version(manager.deviceAt(0)), "R42 SIM 1.0");
  }
  DeviceManager without_makers({});
  EXPECT_EQ(without_makers.openByPort(0, 9600), -1) << "the reader answers no row";
  EXPECT_EQ(without_makers.deviceAt(0), nullptr);
}

}  // namespace
