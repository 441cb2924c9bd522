// The generated slot list and ReaderDevice signatures against what the
// device interface promises: slot order, names, argument counts, result
// kinds and the argument widths that callers and devices depend on.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>

#include "connection/generated/device_slot_info.h"
#include "connection/reader_device.h"

namespace {

template <class M>
struct MemberSignature;
template <class R, class... A>
struct MemberSignature<R (ReaderDevice::*)(A...)> {
  using Result = R;
  using Args = std::tuple<A...>;
};

template <auto M>
using ResultOf = typename MemberSignature<decltype(M)>::Result;
template <auto M, std::size_t I>
using ArgOf = std::tuple_element_t<I, typename MemberSignature<decltype(M)>::Args>;
template <auto M>
inline constexpr std::size_t kArity =
    std::tuple_size_v<typename MemberSignature<decltype(M)>::Args>;

// Widths where the reader command sets use narrower or wider fields than the
// core operation: the interface keeps the core width and the device narrows.
static_assert(std::is_same_v<ArgOf<&ReaderDevice::light, 1>, uint16_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::read_fm11rf005, 2>, unsigned char*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::MFPL0_writeperso, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::MFPL0_writeperso_hex, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::MFPL3_authl3key, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::MFPL3_authl3sectorkey, 2>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::MFPL3_readinplain, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::MFPL3_readencrypted, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::MFPL3_writeinplain, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::MFPL3_writeencrypted, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::MFPL3_writeencrypted_hex, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::cpuapdusourceEXT, 1>, int16_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::cpuapdusourceEXT, 3>, int16_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::card_n, 2>, int32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::card_exist, 1>, uint16_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::load_voice, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::load_voice, 2>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::display_2dbarcode, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::keypad_SetButtonMark, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::keypad_GetPressed, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::keypad_GetPinBlock, 2>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::keypad_GetPinBlock, 6>, int32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::ReadIdCardInfo, 2>, int32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::ReadRfCfgReg, 3>, int32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::WriteRfCfgReg, 3>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::NfcService, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::NfcSimulateCardConfig, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::MagFormatConfig, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::ReadModuleMacAddress, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::RfFormatConfig, 4>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::BtUserControl, 2>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::BtCommunicationTest, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::BtCommand, 3>, int32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::SamAReadCardInfo, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::SamAReadCardInfo, 8>, int32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::KeypadOpen, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::KeypadLoadKey, 10>, int32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::KeypadAlgorithm, 9>, int32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::KeypadStartInput, 13>, int32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::GpsGetInfo, 3>, int32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::ScreenLoadBgImage, 1>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::ScreenDisplayBgImage, 5>, int32_t>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::MultiAntennaStartOrStop, 2>, uint32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::anticoll_mode, 3>, int32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::anticoll, 2>, uint32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::pro_commandsource_int, 3>, int32_t*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::ParsePhotoInfo, 5>, char*>);
static_assert(std::is_same_v<ArgOf<&ReaderDevice::srd_eeprom, 1>, int16_t>);

// Results other than the 16-bit code.
static_assert(std::is_same_v<ResultOf<&ReaderDevice::init>, int32_t>);
static_assert(std::is_same_v<ResultOf<&ReaderDevice::start_i_d_2>, int32_t>);
static_assert(std::is_same_v<ResultOf<&ReaderDevice::i_d_query_name>, char*>);
static_assert(std::is_same_v<ResultOf<&ReaderDevice::i_d_query_photo>, unsigned char*>);
static_assert(std::is_same_v<ResultOf<&ReaderDevice::i_d_query_finger>, unsigned char*>);
static_assert(std::is_same_v<ResultOf<&ReaderDevice::i_d_query_finger_len>, int32_t>);
static_assert(std::is_same_v<ResultOf<&ReaderDevice::end_i_d>, void>);
static_assert(std::is_same_v<ResultOf<&ReaderDevice::exit>, int16_t>);

// The longest rows keep every argument.
static_assert(kArity<&ReaderDevice::ParseTextInfoForHkMoTw> == 18);
static_assert(kArity<&ReaderDevice::KeypadStartInput> == 14);
static_assert(kArity<&ReaderDevice::writemagcard> == 8);
static_assert(kArity<&ReaderDevice::init_name> == 3);
static_assert(std::is_abstract_v<ReaderDevice>);
static_assert(std::has_virtual_destructor_v<ReaderDevice>);

struct ListedSlot {
  int slot;
  std::string name;
  int count;
};

std::vector<ListedSlot> read_slot_list() {
  std::ifstream in(std::string(QM_TEST_SOURCE_DIR) + "/tests/connection/device_slots.txt");
  std::vector<ListedSlot> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    ListedSlot row;
    fields >> row.slot >> row.name >> row.count;
    rows.push_back(row);
  }
  return rows;
}

bool usable_member_name(const std::string& s) {
  if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  if (s.find("__") != std::string::npos) return false;
  return !(s[0] == '_' && s.size() > 1 && std::isupper(static_cast<unsigned char>(s[1])));
}

TEST(DeviceTable, SlotListMatchesTheCheckedInList) {
  const auto rows = read_slot_list();
  ASSERT_EQ(rows.size(), 697u);
  ASSERT_EQ(kDeviceSlotCount, 697);
  for (int i = 0; i < kDeviceSlotCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i].slot, i);
    EXPECT_EQ(kDeviceSlots[i].slot, i);
    EXPECT_EQ(rows[i].name, kDeviceSlots[i].name);
    EXPECT_EQ(rows[i].count, kDeviceSlots[i].arg_count);
  }
}

TEST(DeviceTable, ResultKindsAndTheirSlots) {
  int totals[8] = {};
  std::set<int> wide, pointers, lengths, none;
  for (const auto& s : kDeviceSlots) {
    ++totals[static_cast<int>(s.result)];
    switch (s.result) {
      case DeviceResultKind::kI32: wide.insert(s.slot); break;
      case DeviceResultKind::kTextPointer:
      case DeviceResultKind::kBytesPointer: pointers.insert(s.slot); break;
      case DeviceResultKind::kLength: lengths.insert(s.slot); break;
      case DeviceResultKind::kVoid: none.insert(s.slot); break;
      default: break;
    }
  }
  EXPECT_EQ(totals[static_cast<int>(DeviceResultKind::kI16)], 677);
  EXPECT_EQ(wide, (std::set<int>{1, 2, 73, 428, 429}));
  EXPECT_EQ(pointers, (std::set<int>{430, 432, 434, 436, 438, 440, 442, 444, 446, 451}));
  EXPECT_EQ(lengths, (std::set<int>{448, 453}));
  EXPECT_EQ(none, (std::set<int>{456}));
  EXPECT_EQ(kDeviceSlots[0].result, DeviceResultKind::kDestructor);
  EXPECT_EQ(kDeviceSlots[195].result, DeviceResultKind::kReserved);
  EXPECT_EQ(kDeviceSlots[446].result, DeviceResultKind::kBytesPointer);
  EXPECT_EQ(kDeviceSlots[451].result, DeviceResultKind::kBytesPointer);
}

TEST(DeviceTable, MemberNamesAreUsableAndUniqueWithoutFoldingCase) {
  std::set<std::string> members;
  for (const auto& s : kDeviceSlots) {
    SCOPED_TRACE(s.slot);
    const std::string member = s.member;
    if (s.slot == 0 || s.slot == 195) {
      EXPECT_TRUE(member.empty());
      continue;
    }
    EXPECT_TRUE(usable_member_name(member)) << member;
    EXPECT_TRUE(members.insert(member).second) << member;
    // The API name survives unchanged; only names C++ cannot spell get a prefix.
    if (std::isdigit(static_cast<unsigned char>(s.name[0])))
      EXPECT_EQ(member, std::string("op_") + s.name);
    else
      EXPECT_EQ(member, s.name);
  }
  EXPECT_EQ(members.size(), 695u);
  for (auto [a, b] : {std::pair{170, 171}, {184, 185}, {186, 187}, {188, 189}, {190, 191}}) {
    std::string x = kDeviceSlots[a].name, y = kDeviceSlots[b].name;
    EXPECT_NE(x, y);
    for (auto& c : x) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (auto& c : y) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(x, y) << a << " and " << b << " differ only by case";
  }
  EXPECT_STREQ(kDeviceSlots[334].member, "op_2dot4_reset");
  EXPECT_STREQ(kDeviceSlots[642].member, "op_2dot4Apdu_hex");
  EXPECT_STREQ(kDeviceSlots[550].name, "ParseTextInfoForHkMoTw");
}

TEST(DeviceTable, CoreKindsRouteEachSlot) {
  std::set<int> bare, untraced, manager, none;
  for (const auto& s : kDeviceSlots) {
    switch (s.core) {
      case DeviceCoreKind::kTracedBare: bare.insert(s.slot); break;
      case DeviceCoreKind::kUntraced: untraced.insert(s.slot); break;
      case DeviceCoreKind::kDeviceManager: manager.insert(s.slot); break;
      case DeviceCoreKind::kNone: none.insert(s.slot); break;
      case DeviceCoreKind::kTraced: break;
    }
  }
  std::set<int> want_bare{50, 51, 167, 168};
  for (int i = 403; i <= 423; ++i) want_bare.insert(i);
  EXPECT_EQ(bare, want_bare);
  EXPECT_EQ(untraced, (std::set<int>{587, 589, 591, 686, 687, 688, 689}));
  EXPECT_EQ(manager, (std::set<int>{1, 2, 3, 73}));
  EXPECT_EQ(none, (std::set<int>{0, 195}));
}

}  // namespace
