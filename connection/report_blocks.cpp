#include "connection/report_blocks.h"

#include <vector>

namespace {
constexpr uint8_t kMorePieces = 0x82;
constexpr uint8_t kLastPiece = 0x02;
}  // namespace

size_t report_blocks_length(size_t frame_length) {
  size_t pieces = (frame_length + kReportFrameBytes - 1) / kReportFrameBytes;
  return frame_length + pieces;
}

bool write_report_blocks(Port* port, const uint8_t* frame, size_t frame_length,
                         int32_t timeout_ms) {
  if (!port || !frame || frame_length == 0) return false;
  size_t total = report_blocks_length(frame_length);
  if (total > size_t(INT32_MAX)) return false;
  std::vector<uint8_t> out;
  out.reserve(total);
  for (size_t at = 0; at < frame_length; at += kReportFrameBytes) {
    size_t piece = frame_length - at;
    bool last = piece <= size_t(kReportFrameBytes);
    if (!last) piece = kReportFrameBytes;
    out.push_back(last ? kLastPiece : kMorePieces);
    out.insert(out.end(), frame + at, frame + at + piece);
  }
  return port->write(out.data(), int32_t(out.size()), timeout_ms);
}

ReportCollect collect_report_blocks(Port* port, int32_t timeout_ms, bool busy_reply,
                                    uint8_t* collected, size_t* collected_length) {
  *collected_length = 0;
  if (!port) return ReportCollect::kFailed;
  uint8_t report[kReportLength];
  size_t have = 0;
  for (;;) {
    if (!port->read(report, kReportLength, timeout_ms)) return ReportCollect::kFailed;
    if (busy_reply && report[0] == 0x81 && report[1] == 0x60) return ReportCollect::kBusy;
    if (have + kReportFrameBytes > size_t(kReportCollectLimit)) return ReportCollect::kFailed;
    for (int i = 1; i < kReportLength; ++i) collected[have++] = report[i];
    *collected_length = have;
    if (report[0] != kMorePieces) return ReportCollect::kFrame;
  }
}
