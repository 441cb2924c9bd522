// The identity-card and MIFARE block readers in one call, as rows over the
// simulated identity-card module and card field.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/settings.h"
#include "product_api/product_rows.h"
#include "qm_reader.h"
#include "sim/card_field.h"
#include "sim/id_card_module.h"
#include "sim/mifare_card.h"

namespace {

using IdRow = WireRow<IdCardMemoryReader>;
using IdCall = WireCall<IdCardMemoryReader>;

constexpr int32_t kRead = 10240;    // reply capacity of the module's record read
constexpr int32_t kTunnel = 8192;   // and of its security-module tunnel
const char* const kRecord = "04 20 00";
const char* const kPhoto = "qm_getidinfo_photo.bmp";

// The eight texts without NUL at their offsets; an earlier card's photo
// file must be gone afterwards (no decoder here).
IdRow::Call get_id_info(std::vector<std::string> messages) {
  return product<IdCardMemoryReader>(
      [](IdCall& c) {
        // The photo's relative path lies in this call's own directory.
        const std::filesystem::path back = std::filesystem::current_path();
        std::filesystem::current_path(library_directory());
        std::ofstream(kPhoto) << "earlier card";
        const int32_t result =
            qm_GetIDInfo(kProductHandle, field_at(c, 0), field_at(c, 1), field_at(c, 2),
                         field_at(c, 3), field_at(c, 4), field_at(c, 5), field_at(c, 6),
                         field_at(c, 7), kPhoto);
        EXPECT_EQ(std::remove(kPhoto) == 0, result != 0) << "photo file of an earlier card";
        std::filesystem::current_path(back);
        return result;
      },
      std::move(messages));
}

// qm_ReadIDInfor with its ten texts at their offsets; photo and fingerprint
// lengths must be those of `card`.
IdRow::Call read_id_infor(size_t photo, size_t finger) {
  return product<IdCardMemoryReader>([=](IdCall& c) {
    int32_t photo_len = -1, finger_len = -1;
    std::vector<unsigned char> photo_bytes(4096), finger_bytes(4096);
    const int32_t result = qm_ReadIDInfor(
        kProductHandle, field_at(c, 0), field_at(c, 1), field_at(c, 2), field_at(c, 3),
        field_at(c, 4), field_at(c, 5), field_at(c, 6), field_at(c, 7), field_at(c, 8),
        &photo_len, photo_bytes.data(), &finger_len, finger_bytes.data(), field_at(c, 9));
    if (result >= 0) {
      EXPECT_EQ(photo_len, int32_t(photo));
      EXPECT_EQ(finger_len, int32_t(finger));
    }
    return result;
  });
}

IdRow sam_read(const char* name, IdRow::Call call) {
  return IdRow(name, std::move(call))
      .sends("04 24 00 AA AA AA 96 69 00 03 20 01 22").capacity(kTunnel)
      .sends("04 24 00 AA AA AA 96 69 00 03 20 02 21").capacity(kTunnel);
}
const char* const kReadAll = "04 24 00 AA AA AA 96 69 00 03 30 10 23";

const IdRow kIdRows[] = {
    IdRow("step_by_step_no_decoder", get_id_info({"kx_start photo\n" + std::string(kPhoto)}))
        .sends(kRecord).capacity(kRead)
        .sends(kRecord).capacity(kRead)
        .gives(0)
        .out(fields({gbk("张三"), gbk("男"), gbk("汉"), "19800101", gbk("测试省样例市示范路8号"),
                     "110101198001011232", gbk("样例市公安局"), "2015010120350101"})),
    IdRow("step_by_step_no_card", get_id_info({"kx_find_i_d fail\n"}))
        .given([](IdCardModule::State& s) { s.card.reset(); })
        .sends(kRecord).capacity(kRead)
        .gives(-1),
    IdRow("step_by_step_second_read_fails", get_id_info({"kx_start_i_d fail\n"}))
        .sends(kRecord).capacity(kRead)
        .sends(kRecord).capacity(kRead).answer("6A 82 00")
        .gives(-2),
    sam_read("sam_resident_card", read_id_infor(1024, 1024))
        .sends(kReadAll).capacity(kTunnel)
        .gives(0)
        .out(fields({with_nul(gbk("张三")), with_nul(gbk("男")), with_nul(gbk("汉")),
                     with_nul("19800101"), with_nul(gbk("测试省样例市示范路8号")),
                     with_nul("110101198001011232"), with_nul(gbk("样例市公安局")),
                     with_nul("20150101"), with_nul("20350101"), with_nul("")})),
    // A foreigner's card: photo only, no text parsed.
    sam_read("sam_foreigner_card", read_id_infor(1024, 0))
        .given([](IdCardModule::State& s) { s.card = IdCard::foreigner(); })
        .sends(kReadAll).capacity(kTunnel)
        .sends("04 24 00 AA AA AA 96 69 00 03 30 01 32").capacity(kTunnel)
        .gives(1),
    sam_read("sam_text_too_short", read_id_infor(1024, 1024))
        .given([](IdCardModule::State& s) { s.card->text.resize(200); })
        .sends(kReadAll).capacity(kTunnel)
        .gives(-2),
    IdRow("sam_no_card", read_id_infor(0, 0))
        .given([](IdCardModule::State& s) { s.card.reset(); })
        .sends("04 24 00 AA AA AA 96 69 00 03 20 01 22").capacity(kTunnel)
        .gives(-1),
};
WIRE_TABLE(IdCardComposite, IdCardMemoryReader, kIdRows);

using Row = WireRow<R42MemoryReader>;
using Call = WireCall<R42MemoryReader>;

const std::vector<uint8_t> kUid = {0x11, 0x22, 0x33, 0x44};

// A card whose blocks 1 and 9 hold their number in every byte.
void card_in_field(R42ReaderModel::State& s) {
  auto field = std::make_shared<CardField>();
  MifareCard card = MifareCard::classic1k(kUid);
  card.block(1).fill(0x01);
  card.block(9).fill(0x09);
  field->insert(card);
  s.attachments.push_back(field);
}

Row::Call read_block(uint8_t sector, int32_t block, uint8_t key_mode,
                     std::vector<std::string> messages = {}) {
  return product<R42MemoryReader>(
      [=](Call& c) {
        return qm_ReadM1Card_hex(kProductHandle, sector, block, "FFFFFFFFFFFF", key_mode,
                                 c.text());
      },
      std::move(messages));
}
Row::Call write_block(const char* data, std::vector<std::string> messages = {}) {
  return product<R42MemoryReader>(
      [=](Call&) {
        return qm_WriteM1Card_hex(kProductHandle, 2, 1, "FFFFFFFFFFFF", 0, data);
      },
      std::move(messages));
}

Row selected(const char* name, Row::Call call) {
  return Row(name, std::move(call))
      .given(card_in_field)
      .sends("04 33 00 52").sends("04 34 00 93").sends("04 35 00 93 04 11 22 33 44")
      .sends("04 01 00 52");
}

// The key into the reader's key store at `offset`, then authentication
// with it for the sector of trailer block `trailer`.
Row keyed(const char* name, Row::Call call, const char* offset, const char* trailer) {
  return selected(name, std::move(call))
      .sends(std::string("05 01 00 00 00 00 ") + offset + " 00 00 00 06 FF FF FF FF FF FF")
      .sends(std::string("05 00 00 00 00 00 ") + offset + " 00 00 00 06")
      .sends(std::string("04 04 00 60 ") + trailer + " FF FF FF FF FF FF");
}

const Row kMifareRows[] = {
    keyed("sector_2_block_1_is_block_9", read_block(2, 1, 0), "18", "0B")
        .sends("04 05 00 09").gives(0).text("09090909090909090909090909090909"),
    keyed("block_address_in_8_bits", read_block(0, 257, 0), "00", "03")
        .sends("04 05 00 01").gives(0).text("01010101010101010101010101010101"),
    keyed("read_refused", read_block(2, 1, 0, {"读取错误\n"}), "18", "0B")
        .sends("04 05 00 09").answer("6F 03").gives(-5),
    keyed("wrong_key", read_block(2, 1, 0, {"认证错误\n"}), "18", "0B")
        .answer("6F 02").gives(-4),
    // The key store holds sectors 0-39 and key modes 0-2 and 4-6.
    selected("key_store_refuses_sector_40", read_block(40, 0, 0, {"密码错误\n"})).gives(-3),
    selected("key_store_refuses_sector_64", read_block(64, 0, 0, {"密码错误\n"})).gives(-3),
    selected("key_store_refuses_mode_3", read_block(1, 0, 3, {"密码错误\n"})).gives(-3),
    Row("no_card", read_block(1, 0, 0, {"无卡\n"})).sends("04 33 00 52").gives(-2),
    keyed("write_short_text_zero_filled", write_block("0102", {"0102"}), "18", "0B")
        .sends("04 06 00 09 01 02 00 00 00 00 00 00 00 00 00 00 00 00 00 00").gives(0),
    keyed("write_33_characters",
          write_block("000102030405060708090A0B0C0D0E0F0",
                      {"000102030405060708090A0B0C0D0E0F0", "写入错误\n"}),
          "18", "0B")
        .gives(-5),
};
WIRE_TABLE(MifareBlockComposite, R42MemoryReader, kMifareRows);

}  // namespace
