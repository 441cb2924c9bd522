#include "connection/report_blocks.h"

#include <gtest/gtest.h>

#include <vector>

#include "fuzz/memory_port.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes frame_of(size_t n) {
  Bytes f(n);
  for (size_t i = 0; i < n; ++i) f[i] = uint8_t(i + 1);
  return f;
}

TEST(ReportBlocks, FramesAreCutIntoLedPieces) {
  struct Case {
    size_t frame;
    Bytes headers;  // header byte of each piece
  };
  const Case cases[] = {{1, {0x02}}, {31, {0x02}}, {32, {0x82, 0x02}}, {62, {0x82, 0x02}},
                        {63, {0x82, 0x82, 0x02}}};
  for (const Case& c : cases) {
    MemoryPort port;
    Bytes frame = frame_of(c.frame);
    ASSERT_TRUE(write_report_blocks(&port, frame.data(), frame.size(), 100));
    EXPECT_EQ(port.writes, 1) << "one write for the whole frame";
    ASSERT_EQ(port.written.size(), c.frame + c.headers.size());
    Bytes rebuilt;
    for (size_t p = 0; p < c.headers.size(); ++p) {
      size_t at = p * 32;
      EXPECT_EQ(port.written[at], c.headers[p]) << c.frame << " piece " << p;
      size_t end = std::min(at + 32, port.written.size());
      rebuilt.insert(rebuilt.end(), port.written.begin() + long(at) + 1,
                     port.written.begin() + long(end));
    }
    EXPECT_EQ(rebuilt, frame);
  }
  // 62 bytes: two full pieces, nothing left for a third.
  EXPECT_EQ(report_blocks_length(62), 64u);
  MemoryPort port;
  EXPECT_FALSE(write_report_blocks(&port, nullptr, 0, 100));
  port.fail_from_write = 0;
  Bytes f = frame_of(5);
  EXPECT_FALSE(write_report_blocks(&port, f.data(), f.size(), 100));
}

Bytes reports(size_t count, uint8_t last_header) {
  Bytes in;
  for (size_t i = 0; i < count; ++i) {
    Bytes r(32, uint8_t(i));
    r[0] = i + 1 < count ? 0x82 : last_header;
    in.insert(in.end(), r.begin(), r.end());
  }
  return in;
}

TEST(ReportBlocks, CollectionStopsAtTheLimit) {
  uint8_t collected[kReportCollectLimit];
  size_t n = 0;
  {
    MemoryPort port(reports(66, 0x02));
    ASSERT_EQ(collect_report_blocks(&port, 100, false, collected, &n), ReportCollect::kFrame);
    EXPECT_EQ(n, 66u * 31);
    EXPECT_EQ(collected[65 * 31], 65);
  }
  {
    MemoryPort port(reports(67, 0x02));
    EXPECT_EQ(collect_report_blocks(&port, 100, false, collected, &n), ReportCollect::kFailed);
    EXPECT_EQ(port.consumed(), 67u * 32) << "nothing read past the report that overflowed";
  }
  {
    // Any header but 0x82 ends the reply.
    MemoryPort port(reports(2, 0x00));
    ASSERT_EQ(collect_report_blocks(&port, 100, false, collected, &n), ReportCollect::kFrame);
    EXPECT_EQ(n, 62u);
  }
  {
    MemoryPort port(reports(3, 0x02));
    port.input.resize(70);  // the second report is cut short: the peer fell silent
    EXPECT_EQ(collect_report_blocks(&port, 100, false, collected, &n), ReportCollect::kFailed);
  }
}

TEST(ReportBlocks, BusyReportOnlyWhenAskedFor) {
  Bytes busy(32, 0);
  busy[0] = 0x81;
  busy[1] = 0x60;
  uint8_t collected[kReportCollectLimit];
  size_t n = 0;
  MemoryPort port(busy);
  EXPECT_EQ(collect_report_blocks(&port, 100, true, collected, &n), ReportCollect::kBusy);
  MemoryPort port2(busy);
  EXPECT_EQ(collect_report_blocks(&port2, 100, false, collected, &n), ReportCollect::kFrame);
  EXPECT_EQ(n, 31u);
}

}  // namespace
