// Photo decoding through the stand-in decoder (tests/family_r42/fixture):
// each of the five ways to get a BMP, every failure the decoder or the file
// system can bring, and where the temporary files go. Each test runs in a
// scratch working directory of its own.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "platform/settings.h"
#include "platform/test_support.h"
#include "sim/id_card_module.h"

namespace {

namespace fs = std::filesystem;

constexpr int32_t kBmpSize = 38862;  // 54-byte header and 102 x 126 pixels of 3 bytes, rows of 308
constexpr int32_t kBase64Size = 51816;  // 4 per started 3 bytes
constexpr uint8_t kFill = 0xCC;

const std::string kMainDir = std::string(QM_DECODER_MAIN_DIR) + "/";
const std::string kFallbackDir = std::string(QM_DECODER_FALLBACK_DIR) + "/";
const std::string kNoEntryDir = std::string(QM_DECODER_NO_ENTRY_DIR) + "/";

// The photo the stand-in got must come back as the BMP's pixels.
void expect_bmp_of(const Bytes& bmp, const Bytes& photo) {
  ASSERT_EQ(bmp.size(), size_t(kBmpSize));
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  for (size_t k = 54; k < bmp.size(); ++k) {
    if (bmp[k] != photo[(k - 54) % photo.size()]) {
      ADD_FAILURE() << "pixel byte " << k - 54 << " is not the photo's";
      return;
    }
  }
}

Bytes from_base64(const std::string& text) {
  Bytes out(text.size() / 4 * 3 + 3);
  const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                int(text.size()));
  if (n < 0) return {};
  size_t pad = 0;
  while (pad < text.size() && text[text.size() - 1 - pad] == '=') ++pad;
  out.resize(size_t(n) - pad);
  return out;
}

Bytes file_bytes(const std::string& path) {
  const std::string data = read_text(path);
  return Bytes(data.begin(), data.end());
}

bool put_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return bool(out.flush());
}

std::vector<std::string> files_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// The ways to a BMP.
enum class Way { kQueryFile, kQueryBuffer, kParseFile, kParseBytes, kParseBase64 };

struct WayName {
  Way way;
  const char* name;
};
const WayName kWays[] = {{Way::kQueryFile, "query_file"},
                         {Way::kQueryBuffer, "query_buffer"},
                         {Way::kParseFile, "parse_file"},
                         {Way::kParseBytes, "parse_bytes"},
                         {Way::kParseBase64, "parse_base64"}};

void PrintTo(const WayName& w, std::ostream* os) { *os << w.name; }

const WayName kBufferWays[] = {{Way::kQueryBuffer, "query_buffer"},
                               {Way::kParseBytes, "parse_bytes"},
                               {Way::kParseBase64, "parse_base64"}};

// The path in a decoder call line.
std::string path_of(const std::string& call) {
  return call.substr(call.find(' ', call.find(' ') + 1) + 1);
}

bool to_file(Way way) { return way == Way::kQueryFile || way == Way::kParseFile; }

class PhotoFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(getcwd(saved_cwd_, sizeof saved_cwd_));
    ASSERT_EQ(chdir(work_.path().c_str()), 0);
    set_library_directory(kMainDir);
    setenv("QM_FAKE_WLT_LOG", log_.file("calls").c_str(), 1);
    unsetenv("QM_FAKE_WLT_RESULT");
    ASSERT_EQ(d.start_i_d(kIcdev), kIcdev);
  }
  void TearDown() override {
    EXPECT_EQ(chdir(saved_cwd_), 0);
    set_library_directory("");
    unsetenv("QM_FAKE_WLT_LOG");
    unsetenv("QM_FAKE_WLT_RESULT");
  }

  // The decoder's calls: "<variant> <mode> <path>" lines.
  std::vector<std::string> calls() const {
    std::vector<std::string> lines;
    std::istringstream in(read_text(log_.file("calls")));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // Runs one way with `capacity`; the delivered BMP bytes (base64 decoded)
  // go to *bmp on success.
  int16_t run(Way way, int32_t capacity, Bytes* bmp, int32_t* length_out = nullptr) {
    Bytes buffer(size_t(std::max(capacity, 0)) + 64, kFill);
    int32_t length = capacity;
    int16_t result = -9;
    const std::string target = target_dir_.file("photo.bmp");
    char* out = reinterpret_cast<char*>(buffer.data());
    switch (way) {
      case Way::kQueryFile:
        result = d.i_d_query_photo_file(kIcdev, target.c_str());
        break;
      case Way::kQueryBuffer:
        result = d.i_d_query_photo_bmp_buffer(kIcdev, buffer.data(), &length);
        break;
      case Way::kParseFile:
        result = d.ParsePhotoInfo(kIcdev, 0, int32_t(info.size()), info.data(), &length,
                                  const_cast<char*>(target.c_str()));
        break;
      case Way::kParseBytes:
        result = d.ParsePhotoInfo(kIcdev, 1, int32_t(info.size()), info.data(), &length, out);
        break;
      case Way::kParseBase64:
        result = d.ParsePhotoInfo(kIcdev, 2, int32_t(info.size()), info.data(), &length, out);
        break;
    }
    if (length_out) *length_out = length;
    if (result != 0) {
      EXPECT_EQ(length, capacity) << "a failure leaves the length";
      EXPECT_EQ(buffer, Bytes(buffer.size(), kFill)) << "a failure writes nothing";
      return result;
    }
    if (to_file(way)) {
      *bmp = file_bytes(target);
    } else if (way == Way::kParseBase64) {
      EXPECT_EQ(length, kBase64Size);
      EXPECT_EQ(buffer[size_t(length)], 0) << "the text's NUL";
      EXPECT_EQ(buffer[size_t(length) + 1], kFill);
      *bmp = from_base64(std::string(out, size_t(length)));
    } else {
      EXPECT_EQ(length, kBmpSize);
      EXPECT_EQ(buffer[size_t(length)], kFill);
      bmp->assign(buffer.begin(), buffer.begin() + length);
    }
    return result;
  }

  const Bytes& photo_of(Way way) const {
    return way == Way::kQueryFile || way == Way::kQueryBuffer ? card_a : info;
  }

  // Nothing left in the working or the target directory but `target`.
  void expect_no_stray_files(bool target_kept) {
    EXPECT_TRUE(work_.empty()) << "left in the working directory";
    const std::vector<std::string> left = files_in(target_dir_.path());
    EXPECT_EQ(left,
              target_kept ? std::vector<std::string>{"photo.bmp"} : std::vector<std::string>{});
  }

  TempDir work_, target_dir_, log_;
  char saved_cwd_[4096] = {};
  IdCardMemoryReader reader;
  ReaderDevice& d = reader.device;
  const Bytes card_a = IdCard::a().photo;
  const Bytes info = IdCard::b().photo;
};

class IdCardPhotoWays : public PhotoFixture, public ::testing::WithParamInterface<WayName> {};

// Each way delivers the stand-in's BMP of the right photo and leaves no
// temporary file; the decoder is asked once, with mode 1, for a ".wlt".
TEST_P(IdCardPhotoWays, DeliverTheDecodersBmp) {
  const Way way = GetParam().way;
  Bytes bmp;
  ASSERT_EQ(run(way, 60000, &bmp), 0);
  expect_bmp_of(bmp, photo_of(way));
  expect_no_stray_files(to_file(way));
  const std::vector<std::string> log = calls();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(std::regex_match(log[0], std::regex("wltrs_getbmp 1 .*[0-9]+[A-Za-z0-9]{6}\\.wlt")))
      << log[0];
}

INSTANTIATE_TEST_SUITE_P(, IdCardPhotoWays, ::testing::ValuesIn(kWays),
                         [](const auto& info) { return std::string(info.param.name); });

class IdCardPhotoCapacity : public PhotoFixture, public ::testing::WithParamInterface<WayName> {};

// A capacity one short: -1, nothing delivered, no file left; the exact
// capacity is enough.
TEST_P(IdCardPhotoCapacity, OneShortThenExact) {
  const Way way = GetParam().way;
  const int32_t needed = way == Way::kParseBase64 ? kBase64Size + 1 : kBmpSize;
  Bytes bmp;
  EXPECT_EQ(run(way, needed - 1, &bmp), -1);
  expect_no_stray_files(false);
  ASSERT_EQ(run(way, needed, &bmp), 0);
  expect_bmp_of(bmp, photo_of(way));
}

INSTANTIATE_TEST_SUITE_P(, IdCardPhotoCapacity, ::testing::ValuesIn(kBufferWays),
                         [](const auto& info) { return std::string(info.param.name); });
// What goes wrong, for every way: the library directory, the stand-in's
// behaviour, and the result.
struct Failure {
  const char* name;
  const std::string* library_dir;  // null: an empty folder
  const char* decoder_result;      // QM_FAKE_WLT_RESULT, or null
  int16_t result;
};
void PrintTo(const Failure& f, std::ostream* os) { *os << f.name; }
const Failure kFailures[] = {
    {"no_library", nullptr, nullptr, -2},
    {"no_entry_point", &kNoEntryDir, nullptr, -2},
    {"decoder_fails", &kMainDir, "0", -4},
    {"bmp_missing", &kMainDir, "nobmp", -3},
};

class IdCardPhotoFailures : public PhotoFixture,
                            public ::testing::WithParamInterface<std::tuple<Failure, WayName>> {};

TEST_P(IdCardPhotoFailures, ResultAndNoFileLeft) {
  const auto& [failure, way] = GetParam();
  TempDir empty;
  set_library_directory(failure.library_dir ? *failure.library_dir : empty.path() + "/");
  if (failure.decoder_result) setenv("QM_FAKE_WLT_RESULT", failure.decoder_result, 1);
  Bytes bmp;
  EXPECT_EQ(run(way.way, 60000, &bmp), failure.result);
  expect_no_stray_files(false);
  EXPECT_TRUE(empty.empty());
}

INSTANTIATE_TEST_SUITE_P(, IdCardPhotoFailures,
                         ::testing::Combine(::testing::ValuesIn(kFailures),
                                            ::testing::ValuesIn(kWays)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::get<1>(info.param).name;
                         });

using IdCardPhoto = PhotoFixture;

TEST_F(IdCardPhoto, FallsBackToTheSecondDecoderName) {
  set_library_directory(kFallbackDir);
  Bytes bmp;
  ASSERT_EQ(run(Way::kParseBytes, 60000, &bmp), 0);
  expect_bmp_of(bmp, info);
  ASSERT_EQ(calls().size(), 1u);
  EXPECT_EQ(calls()[0].rfind("WltRS 1 ", 0), 0u) << calls()[0];
}

TEST_F(IdCardPhoto, UnknownTypeDecodesAndDeliversNothing) {
  int32_t length = 77;
  char out[8];
  std::memset(out, kFill, sizeof out);
  EXPECT_EQ(d.ParsePhotoInfo(kIcdev, 7, int32_t(info.size()), info.data(), &length, out), 0);
  EXPECT_EQ(length, 77);
  EXPECT_EQ(uint8_t(out[0]), kFill);
  EXPECT_EQ(calls().size(), 1u) << "the photo is still decoded";
  expect_no_stray_files(false);
  EXPECT_EQ(d.ParsePhotoInfo(kIcdev, 7, 0, info.data(), nullptr, nullptr), 0)
      << "nothing of the output is needed";
}

// Temporary files sit in the target's directory, or in the working one for
// a bare name; '\' is no separator.
TEST_F(IdCardPhoto, TemporaryFilesBesideTheTarget) {
  ASSERT_EQ(d.i_d_query_photo_file(kIcdev, target_dir_.file("photo.bmp").c_str()), 0);
  ASSERT_EQ(d.i_d_query_photo_file(kIcdev, "bare.bmp"), 0);
  ASSERT_EQ(d.i_d_query_photo_file(kIcdev, "back\\slash.bmp"), 0);
  const std::vector<std::string> log = calls();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(fs::path(path_of(log[0])).parent_path(), fs::path(target_dir_.path())) << log[0];
  EXPECT_EQ(path_of(log[1]).find('/'), std::string::npos) << "bare name: " << log[1];
  EXPECT_EQ(path_of(log[2]).find('/'), std::string::npos) << log[2];
  EXPECT_EQ(files_in(work_.path()), (std::vector<std::string>{"back\\slash.bmp", "bare.bmp"}));
}

// A target that is a directory: -3 and no stray BMP. An existing file is
// replaced whole, and files named as the old temporary names for the next
// seconds are neither overwritten nor deleted.
TEST_F(IdCardPhoto, TargetsAndNeighbours) {
  const std::string folder = target_dir_.file("folder");
  ASSERT_TRUE(fs::create_directory(folder));
  EXPECT_EQ(d.i_d_query_photo_file(kIcdev, folder.c_str()), -3);
  EXPECT_EQ(d.i_d_query_photo_file(kIcdev, (folder + "/").c_str()), -3);
  EXPECT_EQ(files_in(target_dir_.path()), std::vector<std::string>{"folder"});
  EXPECT_TRUE(fs::is_empty(folder));

  const std::string target = target_dir_.file("photo.bmp");
  ASSERT_TRUE(put_text(target, "old"));
  std::vector<std::string> neighbours;
  const unsigned now = unsigned(std::time(nullptr));
  for (unsigned k = 0; k <= 3; ++k) {
    for (const char* ext : {".wlt", ".bmp"}) {
      neighbours.push_back(target_dir_.file(std::to_string(now + k) + ext));
      ASSERT_TRUE(put_text(neighbours.back(), "keep"));
    }
  }
  ASSERT_EQ(d.i_d_query_photo_file(kIcdev, target.c_str()), 0);
  expect_bmp_of(file_bytes(target), card_a);
  for (const std::string& n : neighbours) EXPECT_EQ(read_text(n), "keep") << n;
  EXPECT_EQ(files_in(target_dir_.path()).size(), neighbours.size() + 2);
}

// Refused before the decoder is asked.
TEST_F(IdCardPhoto, RefusedArguments) {
  int32_t length = 100;
  char out[16];
  EXPECT_EQ(d.ParsePhotoInfo(kIcdev, 1, -1, info.data(), &length, out), -1);
  EXPECT_EQ(d.ParsePhotoInfo(kIcdev, 1, 10, nullptr, &length, out), -1);
  for (int32_t type : {0, 1, 2}) {
    EXPECT_EQ(d.ParsePhotoInfo(kIcdev, type, 10, info.data(), &length, nullptr), -1) << type;
  }
  for (int32_t type : {1, 2}) {
    EXPECT_EQ(d.ParsePhotoInfo(kIcdev, type, 10, info.data(), nullptr, out), -1) << type;
  }
  EXPECT_EQ(d.i_d_query_photo_file(kIcdev, nullptr), -1);
  EXPECT_EQ(d.i_d_query_photo_bmp_buffer(kIcdev, nullptr, &length), -1);
  EXPECT_EQ(d.i_d_query_photo_bmp_buffer(kIcdev, reinterpret_cast<uint8_t*>(out), nullptr), -1);
  EXPECT_EQ(length, 100);
  EXPECT_TRUE(calls().empty());
  expect_no_stray_files(false);
}

}  // namespace
