// The bridges to the outside bank-card, identity-card image and camera
// libraries, over fakes linked into the library directory; the fakes log
// what reaches them to $QM_FAKE_OUTSIDE_LOG.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "core_api/outside_library_abi.h"
#include "platform/settings.h"
#include "product_api/product_rows.h"
#include "qm_reader.h"
#include "sim/id_card_module.h"

namespace {

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;

// Links the fake `variant` (none when null) into the library directory as
// `file` and sends the fakes' log there; the log's path.
std::string install_fake(const char* variant, const char* file) {
  if (variant)
    std::filesystem::create_symlink(std::string(QM_OUTSIDE_DIR) + "/" + variant + "/" + file,
                                    library_directory() + file);
  const std::string log = library_directory() + "fake.log";
  setenv("QM_FAKE_OUTSIDE_LOG", log.c_str(), 1);
  return log;
}
std::vector<std::string> log_lines(const std::string& log) {
  std::ifstream in(log);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
bool mapped(const char* file) {
  std::ifstream maps("/proc/self/maps");
  const std::string all{std::istreambuf_iterator<char>(maps), std::istreambuf_iterator<char>()};
  return all.find(file) != std::string::npos;
}

// qm_GetBankAccountNumber through the fake `variant`, told `options`: the
// number goes to the output, the fake's log must read `log`, and the
// library must be unloaded afterwards.
Row::Call bank(int32_t type, const char* options, std::vector<std::string> log,
               const char* variant = "pboc") {
  return product<R42MemoryReader>([=](Call& c) {
    const std::string log_file = install_fake(variant, "libkx_pboc.so");
    setenv("QM_FAKE_PBOC", options, 1);
    const int32_t result = qm_GetBankAccountNumber(kProductHandle, type, c.text());
    EXPECT_EQ(log_lines(log_file), log);
    EXPECT_FALSE(mapped("libkx_pboc.so")) << "library left loaded";
    return result;
  });
}
Row contact(const char* name, Row::Call call) {
  return Row(name, std::move(call)).sends("03 01 00 00 00 00").answer("00 00 00 00 3B 00");
}
// The card's answer to the bank application's record read.
const char* const kRecord = "70 11 57 0F 62 12 34 56 78 90 12 34 D2 91 22 01 00 00 0F 90 00";
const std::vector<std::string> kContactLog = {"LibMain 3", "number 1"};

const Row kBankRows[] = {
    Row("contactless_main_road", bank(KX_BANK_CONTACTLESS, "", {"LibMain 3", "number 0"}))
        .sends("04 0D 00").sends("04 00 00")
        .sends("04 33 00 26").answer("00 00 00 04 00")
        .sends("04 34 00 93").answer("00 00 00 00 11 22 33 44")
        .sends("04 35 00 93 04 11 22 33 44").answer("00 00 00 20")
        .sends("04 01 00 26").answer("00 00 00 04 00")
        .sends("04 43 00").answer("00 00 00 0A 04 11 22 33 44 05 75 77 81 02 80")
        .sends("04 11 00 00 0D 00 A4 04 00 08 A0 00 00 03 33 01 01 01")
        .answer("00 00 00 00 02 90 00")
        .sends("04 11 00 00 05 00 B2 01 0C 00").answer({WireBytes("00 00 00 00 15"), kRecord})
        .gives(0).text("6212345678901234"),
    contact("contact_main_road", bank(KX_BANK_CONTACT, "", kContactLog))
        .sends("03 04 00 00 00 A4 04 00 08 A0 00 00 03 33 01 01 01").answer("00 00 00 90 00")
        .sends("03 04 00 00 00 B2 01 0C 00").answer({WireBytes("00 00 00"), kRecord})
        .gives(0).text("6212345678901234"),
    contact("number_of_3_characters", bank(1, "number=123", kContactLog)).gives(-1).text("123"),
    contact("number_of_4_characters", bank(1, "number=1234", kContactLog)).gives(0).text("1234"),
    contact("entry_failed", bank(1, "number=1234;rc=5", kContactLog)).gives(-4).text("1234"),
    Row("type_2_after_lib_main", bank(2, "", {"LibMain 3"})).gives(-1),
    Row("card_not_ready", bank(1, "", {"LibMain 3"})).sends("03 01 00 00 00 00").fails().gives(-1),
    Row("no_library", bank(1, "", {}, nullptr)).gives(-2),
    Row("no_account_entry", bank(1, "", {}, "pboc_no_account")).gives(-2),
    // The callback: 4 bytes go out with Le 00; 2049 bytes, a capacity of 1
    // and a reply over the capacity give -1, the last with the buffer kept.
    contact("callback_lengths",
            bank(1, "send=4/256;send=2049/256;send=4/1;send=4/2;number=1234",
                 {"LibMain 3", "number 1", "sent 3 0102030C", "sent -1 00B2010C",
                  "sent -1 00B2010C", "sent -1 00B2010C"}))
        .sends("03 04 00 00 00 B2 01 0C 00").answer("00 00 00 01 02 03")
        .sends("03 04 00 00 00 B2 01 0C 00").answer("00 00 00 01 02 03")
        .gives(0).text("1234"),
};
WIRE_TABLE(BankCardBridge, R42MemoryReader, kBankRows);

TEST(BankCardCallback, NullNumberOrKeptCallbackReachNoReader) {
  TraceDir dir;
  InstalledDevice device(0);
  const std::string log = install_fake("pboc", "libkx_pboc.so");
  setenv("QM_FAKE_PBOC", "number=1234;keep", 1);
  EXPECT_EQ(kx_GetBankAccountNumber(80, 1, nullptr), -1);
  EXPECT_TRUE(log_lines(log).empty());
  char number[64];
  EXPECT_EQ(kx_GetBankAccountNumber(80, 1, number), 0);
  // The library kept its callback: called after the request it is refused.
  void* kept = nullptr;
  for (const std::string& line : log_lines(log)) std::sscanf(line.c_str(), "callback %p", &kept);
  ASSERT_NE(kept, nullptr);
  device->calls.clear();
  uint8_t apdu[5] = {0x00, 0xB2, 0x01, 0x0C, 0x00};
  EXPECT_EQ(reinterpret_cast<KxBankApdu>(kept)(80, 1, apdu, 5, 256), -1);
  EXPECT_TRUE(device->calls.empty());

  char tracks[3][8] = {};
  EXPECT_EQ(kx_GetBankMagInfo(80, 1, tracks[0], tracks[1], tracks[2]), 0);
  EXPECT_STREQ(tracks[2], "T3");
}

// Run by its own test entry with the fake's folder on LD_LIBRARY_PATH.
TEST(BankCardLibrary, DISABLED_BareNameFallback) {
  TraceDir dir;
  InstalledDevice device(0);
  install_fake(nullptr, "");
  setenv("QM_FAKE_PBOC", "number=1234", 1);
  char number[64];
  EXPECT_EQ(kx_GetBankAccountNumber(80, 1, number), 0);
  EXPECT_STREQ(number, "1234");
}

TEST(ImageBridge, CallbacksReachTheParsersOnlyForAReader) {
  TraceDir dir;
  IdCardMemoryReader reader;
  device_manager.installForTest(0, nullptr, nullptr,
                                new R42Device("r42-u", &reader.port, &reader.wire));
  const std::string log = install_fake("image", "libkxrf32idcardimagebuild.so");
  const IdCard card = IdCard::a();
  const std::string front = dir.root() + "front", back = dir.root() + "back";
  setenv("QM_FAKE_IMAGE_RESULT", "0", 1);
  EXPECT_EQ(qm_IdCardImageBuild(80, 0, 256, card.text.data(), int32_t(card.photo.size()),
                                card.photo.data(), front.c_str(), back.c_str()),
            0);
  EXPECT_EQ(log_lines(log), (std::vector<std::string>{
                                "LibMain 1 " + dir.root(), "LibMain 2 " + dir.root(), "LibMain 3",
                                "text 0 " + gbk("张三"), "other 0 " + gbk("男"), "photo -2 0"}));
  std::ifstream written(front);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), gbk("张三"));

  // A failed build is -4; callbacks given another handle reach no device.
  std::remove(log.c_str());
  setenv("QM_FAKE_IMAGE_RESULT", "3", 1);
  setenv("QM_FAKE_IMAGE_HANDLE", "81", 1);
  EXPECT_EQ(kx_IdCardImageBuild(80, 0, 256, card.text.data(), 0, nullptr, front.c_str(),
                                back.c_str()),
            -4);
  unsetenv("QM_FAKE_IMAGE_HANDLE");
  EXPECT_EQ(log_lines(log)[3], "text -1 ");
  EXPECT_FALSE(mapped("libkxrf32idcardimagebuild.so"));
  device_manager.close(0);
}

TEST(CameraBridge, LoadedOnceUntilUnloadedForEveryReader) {
  TraceDir dir;
  InstalledDevice device(0);
  const std::string log = install_fake("cv_no_capture", "libkxrf32cv.so");
  EXPECT_EQ(kx_CvLibLoad(80), -2) << "no Kxrf32CvCapture";
  EXPECT_EQ(kx_CvOpen(80, 1), -1) << "nothing loaded";
  std::filesystem::remove(library_directory() + "libkxrf32cv.so");
  install_fake("cv", "libkxrf32cv.so");
  EXPECT_EQ(kx_CvLibLoad(81), -1) << "no reader";
  EXPECT_EQ(kx_CvLibLoad(80), 0);
  EXPECT_EQ(kx_CvLibLoad(80), 0);
  EXPECT_EQ(kx_CvOpen(80, 7), 7) << "low 16 bits of 0x10007";
  EXPECT_EQ(kx_CvCapture(80, 7, 2, "shot.bmp"), 2);
  EXPECT_EQ(kx_CvLibUnload(81), -1);
  EXPECT_EQ(kx_CvClose(80, 7), 7) << "still loaded";
  EXPECT_EQ(kx_CvLibUnload(80), 0);
  EXPECT_EQ(kx_CvClose(80, 7), -1);
  EXPECT_EQ(kx_CvLibUnload(80), 0);
  EXPECT_EQ(log_lines(log), (std::vector<std::string>{"LibMain 1 " + dir.root(),
                                                      "LibMain 2 " + dir.root(), "open 7",
                                                      "capture 7 2 shot.bmp", "close 7"}));
  EXPECT_FALSE(mapped("libkxrf32cv.so"));
}

// Composite reads on one reader while another runs bank and camera calls:
// each step takes the library's lock, the callbacks and the camera library
// are shared state (run under ThreadSanitizer).
TEST(ProductConcurrency, CompositesBesideBridgesOnAnotherReader) {
  TraceDir dir;
  InstalledDevice first(0), second(1);
  install_fake("pboc", "libkx_pboc.so");
  install_fake("cv", "libkxrf32cv.so");
  setenv("QM_FAKE_PBOC", "number=1234", 1);
  std::thread composites([] {
    char out[7][64];
    for (int i = 0; i < 100; ++i)
      qm_ReadMFEF05(80, out[0], out[1], out[2], out[3], out[4], out[5], out[6]);
  });
  for (int i = 0; i < 100; ++i) {
    char number[64];
    EXPECT_EQ(qm_GetBankAccountNumber(81, 1, number), 0);
    EXPECT_EQ(kx_CvLibLoad(81), 0);
    EXPECT_EQ(kx_CvOpen(81, 3), 3);
    EXPECT_EQ(kx_CvLibUnload(81), 0);
  }
  composites.join();
}

}  // namespace
