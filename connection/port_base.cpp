#include "connection/port_base.h"

PortBase::PortBase(const char* prefix, DataLines data_lines)
    : trace_(prefix), data_lines_(data_lines) {}

bool PortBase::openAndReport(bool* opened) {
  const bool ok = openDevice();
  if (opened) *opened = ok;
  if (ok) trace_.opened(traceText());
  return ok;
}

void PortBase::close() {
  if (!isOpen()) return;
  closeDevice();
  trace_.closed(traceText());
}

bool PortBase::reopen() {
  close();
  return openAndReport(nullptr);
}

bool PortBase::read(uint8_t* buffer, int32_t length, int32_t timeout_ms) {
  if (!mayTransfer(Direction::kIn) || length < 0) return false;
  if (length == 0) return true;
  if (!buffer || !readBytes(buffer, length, timeout_ms)) return false;
  if (data_lines_ == DataLines::kWritten) trace_.writeHex(buffer, length, "  Data[in]:", "");
  return true;
}

bool PortBase::write(const uint8_t* buffer, int32_t length, int32_t timeout_ms) {
  if (!mayTransfer(Direction::kOut) || length < 0) return false;
  if (length == 0) return true;
  if (!buffer || !writeBytes(buffer, length, timeout_ms)) return false;
  if (data_lines_ == DataLines::kWritten) trace_.writeHex(buffer, length, "  Data[out]:", "");
  return true;
}

std::string PortBase::logFileName() const { return port_log_file_name(); }
