#include "connection/adapter_port.h"

namespace {
const char kPrefix[] = "AdapterPort:";
}

AdapterPort::AdapterPort(const ProvidedTransport& provided, const ParamMap& params,
                         bool* opened)
    : transport_(provided.transport), provider_(provided.provider), trace_(kPrefix) {
  name_ = get_param(params, "name");
  bool ok = openTransport();
  if (opened) *opened = ok;
  if (ok) trace_.opened(name_);
}

AdapterPort::~AdapterPort() {
  closeTransport();
  if (transport_ && provider_.destroy) provider_.destroy(transport_);
}

const ExternalTransportOps* AdapterPort::ops() const {
  return transport_ ? transport_->ops : nullptr;
}

bool AdapterPort::openTransport() {
  open_ = 0;
  if (!ops() || !ops()->open) return false;
  open_ = ops()->open(transport_, name_.c_str(), provider_.parameter);
  return isOpen();
}

void AdapterPort::closeTransport() {
  if (!isOpen()) return;
  if (ops()->close) ops()->close(transport_);
  open_ = 0;
  trace_.closed(name_);
}

void AdapterPort::close() { closeTransport(); }

bool AdapterPort::read(uint8_t* buffer, int32_t length, int32_t timeout_ms) {
  // Lengths never reach the application's code unless there is something to
  // move; whether the transport is open is its own business.
  if (length < 0 || (length > 0 && !buffer)) return false;
  if (length == 0) return true;
  if (!ops() || !ops()->read) return false;
  if (!ops()->read(transport_, buffer, length, timeout_ms)) return false;
  trace_.writeHex(buffer, length, "  Data[in]:", "");
  return true;
}

bool AdapterPort::write(const uint8_t* buffer, int32_t length, int32_t timeout_ms) {
  if (length < 0 || (length > 0 && !buffer)) return false;
  if (length == 0) return true;
  if (!ops() || !ops()->write) return false;
  if (!ops()->write(transport_, buffer, length, timeout_ms)) return false;
  trace_.writeHex(buffer, length, "  Data[out]:", "");
  return true;
}

void AdapterPort::purge() {
  if (ops() && ops()->purge) ops()->purge(transport_);
}

int32_t AdapterPort::available() {
  return ops() && ops()->available ? ops()->available(transport_) : 0;
}

bool AdapterPort::isOpen() { return (open_ & 0xFF) != 0; }

bool AdapterPort::reopen() {
  closeTransport();
  bool ok = openTransport();
  if (ok) trace_.opened(name_);
  return ok;
}

std::string AdapterPort::logFileName() const { return port_log_file_name(); }
