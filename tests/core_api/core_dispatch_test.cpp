// Every traced member reaches its own device slot with its arguments
// unchanged and returns the device's result; handles are checked in range.
#include <climits>
#include <cstdio>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "connection/generated/device_slot_info.h"
#include "core_api/call_frame.h"
#include "core_test_support.h"

namespace {

// Slot and traced name of every member, as the API lists them: slots 4-249
// here, 250-696 from the transcribed operation list.
const std::map<std::string, int> kMembers = [] {
  const std::pair<int, const char*> list[] = {
    {4, "kx_getname"}, {5, "kx_config"}, {6, "kx_request"}, {7, "kx_anticoll"}, {8, "kx_select"},
    {9, "kx_authentication"}, {10, "kx_halt"}, {11, "kx_read"}, {12, "kx_read_hex"},
    {13, "kx_write"}, {14, "kx_write_hex"}, {15, "kx_write_TS"}, {16, "kx_load_key"},
    {17, "kx_load_key_hex"}, {18, "kx_card"}, {19, "kx_card_hex"}, {20, "kx_changeb3"},
    {21, "kx_changeb3_hex"}, {22, "kx_restore"}, {23, "kx_transfer"}, {24, "kx_increment"},
    {25, "kx_decrement"}, {26, "kx_initval"}, {27, "kx_readval"}, {28, "kx_initval_ml"},
    {29, "kx_readval_ml"}, {30, "kx_decrement_ml"}, {31, "kx_authentication_2"},
    {32, "kx_anticoll2"}, {33, "kx_select2"}, {34, "kx_HL_write"}, {35, "kx_HL_writehex"},
    {36, "kx_HL_read"}, {37, "kx_HL_readhex"}, {38, "kx_HL_authentication"},
    {39, "kx_check_write"}, {40, "kx_check_writehex"}, {41, "kx_getver"}, {42, "kx_update"},
    {43, "kx_clr_control_bit"}, {44, "kx_set_control_bit"}, {45, "kx_reset"}, {46, "kx_beep"},
    {47, "kx_disp_str"}, {48, "kx_srd_eeprom"}, {49, "kx_swr_eeprom"}, {50, "swr_alleeprom"},
    {51, "srd_alleeprom"}, {52, "kx_srd_eepromhex"}, {53, "kx_swr_eepromhex"},
    {54, "kx_gettime"}, {55, "kx_gettimehex"}, {56, "kx_settime"}, {57, "kx_settimehex"},
    {58, "kx_setbright"}, {59, "kx_ctl_mode"}, {60, "kx_disp_mode"}, {61, "kx_light"},
    {62, "kx_high_disp"}, {63, "kx_setcpu"}, {64, "kx_cpureset"}, {65, "kx_cpuapdusource"},
    {66, "kx_cpuapdu"}, {67, "kx_cpureset_hex"}, {68, "kx_cpuapdusource_hex"},
    {69, "kx_cpuapdu_hex"}, {70, "kx_cpuapdurespon"}, {71, "kx_cpuapdurespon_hex"},
    {72, "kx_cpudown"}, {74, "kx_changebaud_485"}, {75, "kx_change_addr"}, {76, "kx_pro_reset"},
    {77, "kx_pro_command"}, {78, "kx_pro_resethex"}, {79, "kx_pro_resetInt"},
    {80, "kx_pro_resetInt_hex"}, {81, "kx_pro_commandhex"}, {82, "kx_pro_commandsource"},
    {83, "kx_pro_commandsourcehex"}, {84, "kx_pro_commandsource_int"}, {85, "kx_pro_halt"},
    {86, "kx_request_shc1102"}, {87, "kx_auth_shc1102"}, {88, "kx_read_shc1102"},
    {89, "kx_write_shc1102"}, {90, "kx_halt_shc1102"}, {91, "kx_config_card"},
    {92, "kx_request_b"}, {93, "kx_slotmarker"}, {94, "kx_attrib"}, {95, "kx_open_door"},
    {96, "kx_open_timedoor"}, {97, "kx_read_random"}, {98, "kx_write_random"},
    {99, "kx_read_random_hex"}, {100, "kx_write_random_hex"}, {101, "kx_erase_random"},
    {102, "kx_mfdes_auth"}, {103, "kx_authentication_pass"}, {104, "kx_disp_neg"},
    {105, "kx_pro_commandlink"}, {106, "kx_pro_commandlink_hex"}, {107, "kx_card_double"},
    {108, "kx_card_double_hex"}, {109, "kx_read_idcard"}, {110, "kx_read_idcard_hex"},
    {111, "kx_authentication_pass_hex"}, {112, "kx_setcpupara"}, {113, "kx_command"},
    {114, "kx_command_hex"}, {115, "kx_creat_mac2"}, {116, "kx_creat_mac2_hex"},
    {117, "kx_HL_write_hex"}, {118, "kx_HL_read_hex"}, {119, "kx_check_write_hex"},
    {120, "kx_srd_eeprom_hex"}, {121, "kx_swr_eeprom_hex"}, {122, "kx_gettime_hex"},
    {123, "kx_settime_hex"}, {124, "kx_pro_reset_hex"}, {125, "kx_pro_command_hex"},
    {126, "kx_pro_commandsource_hex"}, {127, "kx_switch_unix"},
    {128, "kx_authentication_passaddr"}, {129, "kx_authentication_passaddr_hex"},
    {130, "kx_card_fm11rf005"}, {131, "kx_mfdes_baud"}, {132, "kx_mfdes_auth_hex"},
    {133, "kx_pro_sendcommandsource"}, {134, "kx_pro_receivecommandsource"},
    {135, "kx_inventory"}, {136, "kx_inventory_hex"}, {137, "kx_stay_quiet"},
    {138, "kx_stay_quiet_hex"}, {139, "kx_select_uid"}, {140, "kx_select_uid_hex"},
    {141, "kx_reset_to_ready"}, {142, "kx_reset_to_ready_hex"}, {143, "kx_readblock"},
    {144, "kx_readblock_hex"}, {145, "kx_writeblock"}, {146, "kx_writeblock_hex"},
    {147, "kx_lock_block"}, {148, "kx_lock_block_hex"}, {149, "kx_write_afi"},
    {150, "kx_write_afi_hex"}, {151, "kx_lock_afi"}, {152, "kx_lock_afi_hex"},
    {153, "kx_write_dsfid"}, {154, "kx_write_dsfid_hex"}, {155, "kx_lock_dsfid"},
    {156, "kx_lock_dsfid_hex"}, {157, "kx_get_systeminfo"}, {158, "kx_get_systeminfo_hex"},
    {159, "kx_get_securityinfo"}, {160, "kx_get_securityinfo_hex"}, {161, "kx_getsnr_fm11rf005"},
    {162, "kx_getsnr_fm11rf005_hex"}, {163, "kx_write_fm11rf005"}, {164, "kx_read_fm11rf005"},
    {165, "kx_read_fm11rf005_hex"}, {166, "kx_write_fm11rf005_hex"}, {167, "KXDEV_CommandMcu"},
    {168, "KXDEV_CommandMcu_Hex"}, {169, "kx_displcd"}, {170, "kx_getinputpass"},
    {171, "kx_GetInputPass"}, {172, "kx_readmagcard"}, {173, "kx_writemagcard"},
    {174, "kx_testdevicecomm"}, {175, "kx_dispmainmenu"}, {176, "kx_setdevicetime"},
    {177, "kx_getdevicetime"}, {178, "kx_dispinfo"}, {179, "kx_dispmaininfo"},
    {180, "kx_posbeep"}, {181, "kx_ctlbacklight"}, {182, "kx_ctlled"}, {183, "kx_lcdclrscrn"},
    {184, "kx_passin"}, {185, "kx_PassIn"}, {186, "kx_passin2"}, {187, "kx_PassIn2"},
    {188, "kx_passget"}, {189, "kx_PassGet"}, {190, "kx_passcancel"}, {191, "kx_PassCancel"},
    {192, "kx_getinputkey"}, {193, "kx_displcd_ext"}, {194, "kx_readmagcardall"},
    {196, "kx_readdevsnr"}, {197, "kx_readreadersnr"}, {198, "kx_resetdevice"},
    {199, "kx_setdevicebaud"}, {200, "kx_read_4442"}, {201, "kx_read_4442_hex"},
    {202, "kx_write_4442"}, {203, "kx_write_4442_hex"}, {204, "kx_verifypin_4442"},
    {205, "kx_verifypin_4442_hex"}, {206, "kx_readpin_4442"}, {207, "kx_readpin_4442_hex"},
    {208, "kx_readpincount_4442"}, {209, "kx_changepin_4442"}, {210, "kx_changepin_4442_hex"},
    {211, "kx_readwrotect_4442"}, {212, "kx_readwrotect_4442_hex"}, {213, "kx_readprotect_4442"},
    {214, "kx_readprotect_4442_hex"}, {215, "kx_writeprotect_4442"},
    {216, "kx_writeprotect_4442_hex"}, {217, "kx_write_24c"}, {218, "kx_write_24c_hex"},
    {219, "kx_write_24c64"}, {220, "kx_write_24c64_hex"}, {221, "kx_read_24c"},
    {222, "kx_read_24c_hex"}, {223, "kx_read_24c64"}, {224, "kx_read_24c64_hex"},
    {225, "kx_read_4428"}, {226, "kx_read_4428_hex"}, {227, "kx_write_4428"},
    {228, "kx_write_4428_hex"}, {229, "kx_verifypin_4428"}, {230, "kx_verifypin_4428_hex"},
    {231, "kx_readpin_4428"}, {232, "kx_readpin_4428_hex"}, {233, "kx_readpincount_4428"},
    {234, "kx_changepin_4428"}, {235, "kx_changepin_4428_hex"}, {236, "kx_readprotect_4428"},
    {237, "kx_readprotect_4428_hex"}, {238, "kx_writeprotect_4428"},
    {239, "kx_writeprotect_4428_hex"}, {240, "kx_Check_4442"}, {241, "kx_Check_4428"},
    {242, "kx_Check_24C01"}, {243, "kx_Check_24C02"}, {244, "kx_Check_24C04"},
    {245, "kx_Check_24C08"}, {246, "kx_Check_24C16"}, {247, "kx_Check_24C64"},
    {248, "kx_Check_CPU"}, {249, "kx_CheckCard"},
  };
  std::map<std::string, int> by_name;
  for (const auto& [slot, name] : list) by_name[name] = slot;
  for (const TranscribedOp& op : transcribed_ops()) by_name[op.name] = op.slot;
  return by_name;
}();

DeviceResultKind kind_of(int slot) { return kDeviceSlots[slot].result; }

// Hands out per argument a distinct value with its top bit set (or, where
// the values count traced bytes, small ones) and a fresh zeroed buffer per
// pointer, and checks each call against the device's record.
struct Probe {
  int32_t icdev = 80;
  uint32_t next = 1;
  bool small_values = false;
  std::deque<std::vector<uint8_t>> buffers;
  RecordingDevice* device = nullptr;
  bool reaches_device = true;
  std::vector<std::string> names;

  int32_t handle() { return icdev; }
  template <typename T>
  T value() {
    const uint32_t n = next++;
    if (small_values) return static_cast<T>(n + 2);
    if constexpr (sizeof(T) == 1) {
      return static_cast<T>(0xA0 | (n & 0x0F));
    } else if constexpr (sizeof(T) == 2) {
      return static_cast<T>(0x8000 | ((n * 0x0101) & 0x7FFF));
    } else {
      return static_cast<T>(0x80000000u | ((n * 0x01030507u) & 0x7FFFFFFFu));
    }
  }
  template <typename T>
  T* pointer() {
    buffers.emplace_back(4096, 0);
    return reinterpret_cast<T*>(buffers.back().data());
  }

  // The device's answer of the slot's kind, or the kind's failure.
  uint64_t expected(int slot) const {
    const RecordingDevice& d = *device;
    switch (kind_of(slot)) {
      case DeviceResultKind::kI32:
        return reaches_device ? RecordingDevice::word(d.answer_i32) : RecordingDevice::word(-1);
      case DeviceResultKind::kTextPointer:
        return reaches_device ? RecordingDevice::word(d.answer_text) : 0;
      case DeviceResultKind::kBytesPointer:
        return reaches_device ? RecordingDevice::word(d.answer_bytes) : 0;
      case DeviceResultKind::kLength:
        return reaches_device ? RecordingDevice::word(d.answer_length) : 0;
      default:
        return reaches_device ? RecordingDevice::word(d.answer) : RecordingDevice::word(-1);
    }
  }
  void called(int slot, const char* name, const std::vector<uint64_t>& args) {
    names.push_back(name);
    next = 1;
    const auto own = kMembers.find(name);
    ASSERT_NE(own, kMembers.end()) << name;
    EXPECT_EQ(own->second, slot) << name;
    if (!reaches_device) {
      EXPECT_TRUE(device->calls.empty()) << name;
      return;
    }
    // At trace levels 2 and 3 a copied photo or fingerprint is counted by
    // the device's length query.
    const bool counted = trace_admits(trace_level.load(), kTraceParameter) &&
                         device->answer == 0 && (slot == 447 || slot == 452);
    ASSERT_EQ(device->calls.size(), counted ? 2u : 1u) << name;
    EXPECT_EQ(device->calls[0].slot, slot) << name;
    EXPECT_EQ(device->calls[0].args, args) << name;
    if (counted) {
      EXPECT_EQ(device->calls[1].slot, slot + 1) << name;
      EXPECT_EQ(device->calls[1].args, std::vector<uint64_t>{args[0]}) << name;
    }
    device->calls.clear();
  }
  template <typename R>
  void result(int slot, const char* name, const std::vector<uint64_t>& args, R result) {
    called(slot, name, args);
    EXPECT_EQ(RecordingDevice::word(result), expected(slot)) << name;
  }
  void no_result(int slot, const char* name, const std::vector<uint64_t>& args) {
    EXPECT_EQ(kind_of(slot), DeviceResultKind::kVoid) << name;
    called(slot, name, args);
  }
};

std::set<std::string> listed_names() {
  std::set<std::string> listed;
  for (const auto& [name, slot] : kMembers) listed.insert(name);
  return listed;
}

TEST(CoreDispatch, EveryMemberReachesItsSlot) {
  char text_one[] = "one", text_two[] = "two";
  unsigned char bytes_one[4] = {1}, bytes_two[4] = {2};
  struct Answers {
    int16_t i16;
    int32_t i32;
    char* text;
    unsigned char* bytes;
  };
  for (const Answers& a : {Answers{-12345, 0x12345678, text_one, bytes_one},
                           Answers{23456, -2, text_two, bytes_two}}) {
    set_trace_level(0);
    InstalledDevice device(7);
    device->answer = a.i16;
    device->answer_i32 = a.i32;
    device->answer_length = a.i32;
    device->answer_text = a.text;
    device->answer_bytes = a.bytes;
    Probe probe;
    probe.icdev = device.handle();
    probe.device = &*device;
    call_every_core_member(probe);

    EXPECT_EQ(std::set<std::string>(probe.names.begin(), probe.names.end()), listed_names());
    EXPECT_EQ(probe.names.size(), 684u);
  }
}

// The return line a level-2 trace shows for the slot's kind of result.
std::string return_line(int slot, const RecordingDevice& d, bool reached) {
  std::string value;
  switch (kind_of(slot)) {
    case DeviceResultKind::kVoid:
      return "";
    case DeviceResultKind::kI32: {
      char hex[16];
      std::snprintf(hex, sizeof hex, "0x%08X", static_cast<uint32_t>(reached ? d.answer_i32 : -1));
      value = hex;
      break;
    }
    case DeviceResultKind::kTextPointer:
      value = reached ? d.answer_text : "(null)";
      break;
    case DeviceResultKind::kBytesPointer:
      value = reached ? std::string(2048, '5') : "(null)";
      return "  return:[len:" + std::to_string(reached ? 1024 : 6) + "]" + value;
    case DeviceResultKind::kLength:
      value = std::to_string(reached ? d.answer_length : 0);
      break;
    default:
      value = std::to_string(reached ? d.answer : -1);
  }
  return "  return:[len:" + std::to_string(value.size()) + "]" + value;
}

// One call's lines from a day's trace.
struct TracedCall {
  std::string name;
  std::vector<std::string> lines;  // after the function line
};

std::vector<TracedCall> traced_calls(const std::vector<std::string>& lines) {
  std::vector<TracedCall> calls;
  for (const std::string& line : lines) {
    if (line.rfind("function:", 0) == 0) {
      calls.push_back({line.substr(line.find(']') + 1), {}});
    } else if (!calls.empty()) {
      calls.back().lines.push_back(line);
    }
  }
  return calls;
}

size_t count_outputs(const TracedCall& call) {
  size_t n = 0;
  for (const std::string& line : call.lines) n += line.find("[out]]") != std::string::npos;
  return n;
}

TEST(CoreDispatch, EveryMemberTracesItsCall) {
  char text[] = "TEXT";
  std::vector<unsigned char> bytes(1024, 0x55);
  for (int16_t answer : {0, -2, 5}) {
    TraceDir dir;
    set_trace_level(2);
    InstalledDevice device(7);
    device->answer = answer;
    device->answer_i32 = 0x00000057;
    device->answer_length = 12;
    device->answer_text = text;
    device->answer_bytes = bytes.data();
    device->fill_size = 64;
    Probe probe;
    probe.icdev = device.handle();
    probe.device = &*device;
    probe.small_values = true;
    call_every_core_member(probe);
    set_trace_level(0);

    // One function line per call, in call order, each closed by the return
    // line of its kind; outputs after a success, and after any count.
    const std::vector<TracedCall> calls = traced_calls(dir.lines());
    ASSERT_EQ(calls.size(), probe.names.size());
    size_t outputs = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
      const TracedCall& call = calls[i];
      EXPECT_EQ(call.name, probe.names[i]);
      const int slot = kMembers.at(call.name);
      const std::string expected = return_line(slot, *device, true);
      if (expected.empty()) {
        EXPECT_EQ(call.lines.back().rfind("  parameter:[", 0), 0u) << call.name;
      } else {
        EXPECT_EQ(call.lines.back(), expected) << call.name;
      }
      const size_t n = count_outputs(call);
      if (answer != 0 && slot != 560 && slot != 563) {
        EXPECT_EQ(n, 0u) << call.name;
      }
      outputs += n;
    }
    if (answer == 0) {
      EXPECT_GT(outputs, 300u);
    } else if (answer == 5) {
      EXPECT_EQ(outputs, 2u);  // the two members whose result counts their output
    }
  }
}

TEST(CoreDispatch, HandleRange) {
  InstalledDevice first(0);
  InstalledDevice last(499);
  char version[256];
  EXPECT_EQ(kx_getver(80, version), 0);
  EXPECT_EQ(kx_getver(579, version), 0);
  EXPECT_EQ(first->calls.size(), 1u);
  EXPECT_EQ(last->calls.size(), 1u);
  EXPECT_EQ(first->calls[0].args[0], 80u);

  // Out of range, including values whose 32-bit difference would wrap.
  for (int32_t bad : {79, 580, 0, -1, INT32_MIN, INT32_MIN + 79, INT32_MAX}) {
    EXPECT_EQ(kx_getver(bad, version), -1) << bad;
    EXPECT_EQ(kx_DeviceCommand0F01(bad), -1) << bad;
  }
  EXPECT_EQ(first->calls.size(), 1u);
  EXPECT_EQ(last->calls.size(), 1u);

  // In range but empty.
  EXPECT_EQ(kx_getver(81, version), -1);
  EXPECT_EQ(kx_SetDeviceUid(81, "x"), -1);
}

// Every member with a bad handle: its kind's failure, no device call, and
// at level 2 the function and input lines and the return line of its kind.
TEST(CoreDispatch, BadHandlesReachNoDevice) {
  InstalledDevice device(0);
  for (int32_t bad : {79, 580, INT32_MIN, INT32_MAX, 81}) {
    TraceDir dir;
    set_trace_level(2);
    Probe probe;
    probe.icdev = bad;
    probe.device = &*device;
    probe.reaches_device = false;
    probe.small_values = true;
    call_every_core_member(probe);
    set_trace_level(0);
    EXPECT_EQ(probe.names.size(), 684u);

    char handle[16];
    std::snprintf(handle, sizeof handle, "0x%08X", static_cast<uint32_t>(bad));
    const std::vector<TracedCall> calls = traced_calls(dir.lines());
    ASSERT_EQ(calls.size(), probe.names.size());
    for (const TracedCall& call : calls) {
      const int slot = kMembers.at(call.name);
      ASSERT_FALSE(call.lines.empty()) << call.name;
      const std::string first = 430 <= slot && slot <= 456 ? "idhandle" : "icdev";
      EXPECT_EQ(call.lines.front(), "  parameter:[" + first + "[in]][len:10]" + handle);
      const std::string expected = return_line(slot, *device, false);
      if (!expected.empty()) {
        EXPECT_EQ(call.lines.back(), expected) << call.name;
      }
      for (const std::string& line : call.lines) {
        EXPECT_EQ(line.find("[out]]"), std::string::npos) << call.name << ": " << line;
      }
    }
  }
}

TEST(CoreDispatch, UntracedEntriesPassArgumentsAndResult) {
  InstalledDevice device(3);
  device->answer = -2;
  uint8_t buffer[16] = {};
  const int32_t h = device.handle();
  EXPECT_EQ(kx_DeviceCommand0F01(h), -2);
  EXPECT_EQ(kx_DeviceQuery0F13(h, buffer), -2);
  EXPECT_EQ(kx_ReadEepromRaw(h, -3, 9, buffer), -2);
  EXPECT_EQ(kx_WriteEepromRaw(h, 5, 6, buffer), -2);
  EXPECT_EQ(kx_SetDeviceUid(h, "uid"), -2);
  EXPECT_EQ(kx_SetDeviceTradeNumber(h, "trade"), -2);
  EXPECT_EQ(kx_SetDeviceTerminalNumber(h, "term"), -2);
  const std::vector<int> slots = {688, 689, 686, 687, 587, 589, 591};
  ASSERT_EQ(device->calls.size(), slots.size());
  for (size_t i = 0; i < slots.size(); ++i) EXPECT_EQ(device->calls[i].slot, slots[i]);
  const uint64_t minus_three = static_cast<uint64_t>(int64_t{-3});
  EXPECT_EQ(device->calls[2].args,
            (std::vector<uint64_t>{83, minus_three, 9, reinterpret_cast<uintptr_t>(buffer)}));
  EXPECT_EQ(kx_not_supported_1(83), -1);
  EXPECT_EQ(kx_not_supported_2(83), -1);
  EXPECT_EQ(device->calls.size(), slots.size());
}

}  // namespace
