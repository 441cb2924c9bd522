// Waking a reader that sleeps behind its Bluetooth module.
#include <gtest/gtest.h>

#include "family_r42/r42_rig.h"

namespace {

constexpr uint16_t kWake = 0x200E;

void answerWake(R42Rig& rig, Bytes reply) {
  rig.model.addCommand(kWake, [reply](const Bytes&) { return reply; });
}

std::vector<int32_t> timeouts(const R42Rig& rig) {
  std::vector<int32_t> out;
  for (const auto& call : rig.recorder->calls) out.push_back(call.timeout_ms);
  return out;
}

}  // namespace

TEST(R42Wake, AwakeReaderAnswersTheFirstRequest) {
  R42Rig rig;
  ASSERT_RIG(rig);
  answerWake(rig, {0x00, 0x00, 0x00});
  EXPECT_EQ(rig.device->WakeDevice(0), 0);
  ASSERT_EQ(rig.sent(), 1u);
  EXPECT_EQ(rig.last().request, (Bytes{0x20, 0x0E, 0x00, 0x01}));
  EXPECT_EQ(timeouts(rig), (std::vector<int32_t>{200}));
}

TEST(R42Wake, SleepingReaderIsAskedAgainWithLongerWaits) {
  R42Rig rig;
  ASSERT_RIG(rig);
  answerWake(rig, {0x00, 0x00, 0x00});
  R42SerialSim::FaultPlan silent;
  silent.kind = R42SerialSim::Fault::kSilence;
  rig.sim->injectFault(silent);
  EXPECT_EQ(rig.device->WakeDevice(0), 0);
  EXPECT_EQ(timeouts(rig), (std::vector<int32_t>{200, 500}));
}

TEST(R42Wake, ThreeMissingRepliesFail) {
  R42Rig rig;
  ASSERT_RIG(rig);
  R42SerialSim::FaultPlan silent;
  silent.kind = R42SerialSim::Fault::kSilence;
  silent.repeat = true;
  rig.sim->injectFault(silent);
  EXPECT_EQ(rig.device->WakeDevice(0), -1);
  EXPECT_EQ(timeouts(rig), (std::vector<int32_t>{200, 500, 1000}));
}

TEST(R42Wake, StatusWordDecidesAndIsKept) {
  R42Rig rig;
  ASSERT_RIG(rig);
  answerWake(rig, {0x00, 0x10, 0x00});
  EXPECT_EQ(rig.device->WakeDevice(0), -2);
  int32_t code = 0;
  EXPECT_EQ(rig.device->GetLastResponseCode(0, &code), 0);
  EXPECT_EQ(code, 0x10);
  EXPECT_EQ(rig.sent(), 1u);
}

TEST(R42Wake, ShortReplyIsAnAnswerNotASilence) {
  R42Rig rig;
  ASSERT_RIG(rig);
  answerWake(rig, {0x00});
  EXPECT_EQ(rig.device->WakeDevice(0), -1);
  EXPECT_EQ(rig.sent(), 1u);
}
