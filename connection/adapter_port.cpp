#include "connection/adapter_port.h"

AdapterPort::AdapterPort(const ProvidedTransport& provided, const ParamMap& params,
                         bool* opened)
    : PortBase("AdapterPort:", DataLines::kWritten),
      transport_(provided.transport),
      provider_(provided.provider) {
  name_ = get_param(params, "name");
  openAndReport(opened);
}

AdapterPort::~AdapterPort() {
  close();
  if (transport_ && provider_.destroy) provider_.destroy(transport_);
}

const ExternalTransportOps* AdapterPort::ops() const {
  return transport_ ? transport_->ops : nullptr;
}

bool AdapterPort::openDevice() {
  open_ = 0;
  if (!ops() || !ops()->open) return false;
  open_ = ops()->open(transport_, name_.c_str(), provider_.parameter);
  return isOpen();
}

void AdapterPort::closeDevice() {
  if (ops()->close) ops()->close(transport_);
  open_ = 0;
}

bool AdapterPort::readBytes(uint8_t* buffer, int32_t length, int32_t timeout_ms) {
  return ops() && ops()->read && ops()->read(transport_, buffer, length, timeout_ms);
}

bool AdapterPort::writeBytes(const uint8_t* buffer, int32_t length, int32_t timeout_ms) {
  return ops() && ops()->write && ops()->write(transport_, buffer, length, timeout_ms);
}

void AdapterPort::purge() {
  if (ops() && ops()->purge) ops()->purge(transport_);
}

int32_t AdapterPort::available() {
  return ops() && ops()->available ? ops()->available(transport_) : 0;
}

bool AdapterPort::isOpen() { return (open_ & 0xFF) != 0; }
