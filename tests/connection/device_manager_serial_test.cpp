// Opening readers on serial port numbers: row choice by baud rate, the
// configured name, opens by name, re-opens and a reader that goes away.
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "device_manager_fixture_test.h"
#include "family_m6/m6_device.h"
#include "family_r42/r42_device.h"
#include "sim/m6_reader.h"
#include "sim/pty_pair.h"

namespace {

// Two m6 probes of 200 ms each come before the r42 row on a silent line;
// the r42 row costs up to 2000 ms; the rest is slack for a loaded machine.
constexpr int64_t kSerialSearchGuardMs = 2 * 200 + 2000 + 3000;

class DeviceManagerSerial : public ::testing::Test {
 protected:
  std::unique_ptr<DeviceManager> manager = std::make_unique<DeviceManager>(reader_device_makers());
  PortNames names;
};

TEST_F(DeviceManagerSerial, R42ReaderAnswersAfterTheM6RowWasTried) {
  R42OnPty reader;
  names.set(*manager, 0, reader.path());
  Stopwatch watch;
  ASSERT_EQ(manager->openByPort(0, 9600), 0);
  EXPECT_LT(watch.ms(), kSerialSearchGuardMs);
  EXPECT_GE(watch.ms(), 2 * 200) << "the m6 row probes the line first, twice";
  EXPECT_EQ(device_name(manager->deviceAt(0)), "r42-s9600");
  EXPECT_EQ(device_version(manager->deviceAt(0)), "R42 SIM 1.0");
  manager->close(0);
  EXPECT_EQ(manager->deviceAt(0), nullptr);
}

TEST_F(DeviceManagerSerial, M6ReaderAnswersTheFirstRow) {
  PtyPair line;
  M6Reader reader(line.releaseMaster(), M6Reader::Framing::kDle);
  reader.setVersion('A', '1');
  names.set(*manager, 0, line.slavePath());
  Stopwatch watch;
  ASSERT_EQ(manager->openByPort(0, 9600), 0);
  EXPECT_LT(watch.ms(), 2 * 200 + 5000);
  auto* device = dynamic_cast<M6Device*>(manager->deviceAt(0));
  ASSERT_NE(device, nullptr);
  EXPECT_STREQ(device->name(), "m6-s9600");
  EXPECT_STREQ(device->versionText(), "A1") << "init ran";
  EXPECT_TRUE(device->sp0());
  // The probe, then init's version and serial: the r42 row never ran.
  EXPECT_EQ(reader.commands(), (std::vector<std::vector<uint8_t>>{{0x80}, {0x80}, {0xFC}}));
  EXPECT_EQ(reader.badFrames(), 0);
}

TEST_F(DeviceManagerSerial, RowsFollowTheBaudRate) {
  R42OnPty reader;
  names.set(*manager, 5, reader.path());
  ASSERT_EQ(manager->openByPort(5, 115200), 5);
  EXPECT_EQ(device_name(manager->deviceAt(5)), "r42-s115200");
  ASSERT_EQ(manager->openByPort(5, 256000), 5);
  EXPECT_EQ(device_name(manager->deviceAt(5)), "r42-s256000");
}

// Watches one path for opens, so a test can tell whether a port was built.
class OpenWatch {
 public:
  explicit OpenWatch(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ >= 0) inotify_add_watch(fd_, path.c_str(), IN_OPEN);
  }
  ~OpenWatch() {
    if (fd_ >= 0) ::close(fd_);
  }
  int opens() {
    alignas(inotify_event) char buffer[4096];
    int count = 0;
    for (;;) {
      ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) return count;
      for (ssize_t at = 0; at < n;) {
        auto* event = reinterpret_cast<inotify_event*>(buffer + at);
        ++count;
        at += ssize_t(sizeof(inotify_event) + event->len);
      }
    }
  }

 private:
  int fd_;
};

TEST_F(DeviceManagerSerial, BaudWithoutRowsBuildsNoPort) {
  // A regular file opens as a path but is no terminal: every serial row
  // builds a port that does not open, which the watch sees.
  char dir_template[] = "/tmp/dm_serial_XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string file = std::string(dir_template) + "/line";
  std::ofstream(file).put('x');
  names.set(*manager, 0, file);
  OpenWatch watch(file);

  EXPECT_EQ(manager->openByPort(0, 4800), -1);
  EXPECT_EQ(watch.opens(), 0) << "no row carries 4800 baud";
  EXPECT_EQ(manager->openByPort(0, -9600), -1);
  EXPECT_EQ(watch.opens(), 0);

  // Control: at a rate with rows the path is opened (inotify folds the two
  // rows' identical events into one).
  EXPECT_EQ(manager->openByPort(0, 9600), -1);
  EXPECT_GE(watch.opens(), 1);
  unlink(file.c_str());
  rmdir(dir_template);
}

TEST_F(DeviceManagerSerial, ConfiguredNameIsOpenedWhateverThePortNumber) {
  R42OnPty reader;
  names.set(*manager, 7, reader.path());
  ASSERT_EQ(manager->openByPort(7, 19200), 7);
  EXPECT_EQ(device_name(manager->deviceAt(7)), "r42-s19200");
  // The same name on another port number is refused while port 7 holds it.
  names.set(*manager, 99, reader.path());
  EXPECT_EQ(manager->openByPort(99, 19200), -1);
  EXPECT_EQ(device_version(manager->deviceAt(7)), "R42 SIM 1.0") << "port 7 still answers";
}

TEST_F(DeviceManagerSerial, OpenByNameTriesOnlyThatRow) {
  R42OnPty reader;
  names.set(*manager, 3, reader.path());
  Stopwatch watch;
  ASSERT_EQ(manager->openByName(3, 9600, "r42-s9600"), 3);
  EXPECT_LT(watch.ms(), 2 * 200) << "the m6 row is not probed";
  EXPECT_EQ(device_name(manager->deviceAt(3)), "r42-s9600");

  EXPECT_EQ(manager->openByName(3, 9600, "r42-u"), -1) << "a USB row on a serial port";
  EXPECT_EQ(manager->openByName(3, 9600, "R42-S9600"), -1) << "names compare case-sensitively";
  EXPECT_EQ(manager->openByName(3, 115200, "r42-s9600"), -1) << "the row's baud must match";
  EXPECT_EQ(manager->deviceAt(3), nullptr) << "a failed re-open leaves the entry empty";
}

TEST_F(DeviceManagerSerial, NullOrEmptyNameOpensByPort) {
  R42OnPty reader;
  names.set(*manager, 3, reader.path());
  for (const char* name : {static_cast<const char*>(nullptr), ""}) {
    Stopwatch watch;
    ASSERT_EQ(manager->openByName(3, 9600, name), 3);
    EXPECT_GE(watch.ms(), 2 * 200) << "every row of the type is tried, m6 first";
    EXPECT_EQ(device_name(manager->deviceAt(3)), "r42-s9600");
  }
}

TEST_F(DeviceManagerSerial, LongVersionTextStaysInTheProbeBuffer) {
  R42OnPty reader(std::string(300, 'V'));
  names.set(*manager, 2, reader.path());
  ASSERT_EQ(manager->openByName(2, 9600, "r42-s9600"), 2);
  EXPECT_EQ(device_version(manager->deviceAt(2)), std::string(255, 'V'));
}

TEST_F(DeviceManagerSerial, ReopenReleasesTheOldEntryFirst) {
  R42OnPty reader;
  names.set(*manager, 0, reader.path());
  ASSERT_EQ(manager->openByName(0, 9600, "r42-s9600"), 0);
  const int fds = settled_fd_count();  // the reader's thread runs beside
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(manager->openByName(0, 9600, "r42-s9600"), 0) << "attempt " << i;
    EXPECT_EQ(fd_count_settling_to(fds), fds);
  }
  EXPECT_EQ(device_version(manager->deviceAt(0)), "R42 SIM 1.0");

  // Port 1 on the same line finds it held by port 0.
  names.set(*manager, 1, reader.path());
  EXPECT_EQ(manager->openByName(1, 9600, "r42-s9600"), -1);
  EXPECT_EQ(device_version(manager->deviceAt(0)), "R42 SIM 1.0");
}

TEST_F(DeviceManagerSerial, ReopenOfAReaderThatWentAwayLeavesTheEntryEmpty) {
  auto reader = std::make_unique<R42OnPty>();
  // The port is named through a link that goes away with the reader: the
  // terminal's number may be handed to a test running beside this one.
  char folder[] = "/tmp/qm-line-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string line = std::string(folder) + "/line";
  ASSERT_EQ(symlink(reader->path().c_str(), line.c_str()), 0);
  names.set(*manager, 4, line);
  ASSERT_EQ(manager->openByName(4, 9600, "r42-s9600"), 4);
  const int fds_open = settled_fd_count();
  reader.reset();  // the line and its reader are gone
  unlink(line.c_str());
  rmdir(folder);
  EXPECT_EQ(manager->openByName(4, 9600, "r42-s9600"), -1);
  EXPECT_EQ(manager->deviceAt(4), nullptr);
  EXPECT_LT(open_fd_count(), fds_open) << "the old port was released";
}

TEST_F(DeviceManagerSerial, UnplugMidExchangeFailsFastAndCloseReleases) {
  const int fds = open_fd_count();
  {
    R42OnPty reader;
    names.set(*manager, 6, reader.path());
    ASSERT_EQ(manager->openByName(6, 9600, "r42-s19200"), -1) << "baud and row disagree";
    ASSERT_EQ(manager->openByName(6, 9600, "r42-s9600"), 6);
    ReaderDevice* device = manager->deviceAt(6);
    ASSERT_NE(device, nullptr);

    // The reader hangs up (its end of the line closed) instead of replying
    // to a command whose budget is 5100 ms. "At once" is well within it: the
    // time also holds the simulator's turn to read the command, which a
    // loaded machine may delay.
    R42SerialSim::FaultPlan fault;
    fault.kind = R42SerialSim::Fault::kHangUp;
    reader.sim->injectFault(fault);
    Stopwatch watch;
    std::clock_t cpu_start = std::clock();
    EXPECT_EQ(device->beep(86, 10), -1);
    EXPECT_LT(watch.ms(), 2500) << "a hung-up line fails at once";
    EXPECT_LT(double(std::clock() - cpu_start) / CLOCKS_PER_SEC, 0.5) << "no spinning";
    manager->close(6);
    EXPECT_EQ(manager->deviceAt(6), nullptr);
  }
  EXPECT_EQ(open_fd_count(), fds);
}

}  // namespace
