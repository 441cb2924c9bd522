// Every traced member reaches its own device slot with its arguments
// unchanged and returns the device's result; handles are checked in range.
#include <climits>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core_test_support.h"

namespace {

// Slot and traced name of every member, as the API lists them.
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
  return by_name;
}();

// Hands out distinct small values and a fresh zeroed buffer per pointer,
// and checks each call against the device's record.
struct Probe {
  int32_t icdev = 80;
  uint64_t next = 3;
  std::deque<std::vector<uint8_t>> buffers;
  RecordingDevice* device = nullptr;
  std::vector<std::string> names;

  int32_t handle() { return icdev; }
  template <typename T>
  T value() {
    return static_cast<T>(next++);
  }
  template <typename T>
  T* pointer() {
    buffers.emplace_back(4096, 0);
    return reinterpret_cast<T*>(buffers.back().data());
  }
  void result(int slot, const char* name, const std::vector<uint64_t>& args, int16_t result) {
    names.push_back(name);
    next = 3;
    const auto own = kMembers.find(name);
    ASSERT_NE(own, kMembers.end()) << name;
    EXPECT_EQ(own->second, slot) << name;
    ASSERT_EQ(device->calls.size(), 1u) << name;
    EXPECT_EQ(device->calls[0].slot, own->second) << name;
    EXPECT_EQ(device->calls[0].args, args) << name;
    EXPECT_EQ(result, device->answer) << name;
    device->calls.clear();
  }
};

TEST(CoreDispatch, EveryMemberReachesItsSlot) {
  for (int16_t answer : {0, -2, 5}) {
    TraceDir dir;
    set_trace_level(2);
    InstalledDevice device(7);
    device->answer = answer;
    device->fill_size = 64;
    Probe probe;
    probe.icdev = device.handle();
    probe.device = &*device;
    call_every_core_member(probe);
    set_trace_level(0);

    std::set<std::string> called(probe.names.begin(), probe.names.end());
    std::set<std::string> listed;
    for (const auto& [name, slot] : kMembers) listed.insert(name);
    EXPECT_EQ(called, listed);
    EXPECT_EQ(probe.names.size(), 244u);

    // One function line per call, in call order, each closed by the
    // device's result; outputs only after a success.
    std::vector<std::string> functions;
    size_t returns = 0, outputs = 0;
    const std::string expected_return =
        "  return:[len:" + std::to_string(std::to_string(answer).size()) + "]" +
        std::to_string(answer);
    for (const std::string& line : dir.lines()) {
      if (line.rfind("function:", 0) == 0) functions.push_back(line.substr(line.find(']') + 1));
      if (line.rfind("  return:", 0) == 0) {
        ++returns;
        EXPECT_EQ(line, expected_return);
      }
      if (line.find("[out]]") != std::string::npos) ++outputs;
    }
    EXPECT_EQ(functions, probe.names);
    EXPECT_EQ(returns, 244u);
    if (answer == 0) {
      EXPECT_GT(outputs, 100u);
    } else {
      EXPECT_EQ(outputs, 0u);
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
