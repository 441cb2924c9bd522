// A processor card's APDU through the core API on an m6 reader over a
// serial line (a pseudo-terminal, DLE framing): the card frame goes alone,
// with the line's next sequence number, and the answer comes on a receive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kx_core.h"
#include "sim/m6_reader.h"
#include "sim/pty_pair.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(M6ProcessorRoad, ChallengeOverTheSerialLine) {
  constexpr int16_t kPort = 9;
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  const std::string slave = pty.slavePath();
  M6Reader reader(pty.releaseMaster(), M6Reader::Framing::kDle);
  reader.model().scriptReply(0x85, {0x00, 0x02, 0x00});
  reader.model().scriptReply(0x86, {0x00, 0x0C, 0x0A, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x90, 0x00});
  kx_config_port_name(kPort, slave.c_str());
  const int32_t h = kx_init(kPort, 115200);
  ASSERT_EQ(h, 80 + kPort);
  uint8_t length = 0, answer[256];
  ASSERT_EQ(kx_pro_reset(h, &length, answer), 0);
  const Bytes challenge = {0x00, 0x84, 0x00, 0x00, 0x08};
  ASSERT_EQ(kx_pro_command(h, 5, challenge.data(), &length, answer, 7), 0);
  EXPECT_EQ(Bytes(answer, answer + length), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 0x90, 0x00}));
  ASSERT_EQ(reader.commands().size(), 5u);
  EXPECT_EQ(reader.commands()[4],
            (Bytes{0x86, 0x07, 0x07, 0x0A, 0x00, 0x00, 0x84, 0x00, 0x00, 0x08}));
  EXPECT_EQ(reader.sequences().at(4), 4);
  EXPECT_EQ(kx_exit(h), 0);
}

}  // namespace
