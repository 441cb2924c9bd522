// A Port whose operations go to a transport the application supplied
// through its PortProvider.
#pragma once

#include <cstdint>
#include <string>

#include "connection/port_base.h"
#include "connection/port_provider.h"
#include "platform/text_helpers.h"

class AdapterPort : public PortBase {
 public:
  // Opens `provided.transport` with the map's "name" and the provider's
  // parameter; `*opened` (when not null) tells whether it opened. The
  // transport goes back through `provided.provider.destroy` when the port is
  // deleted, opened or not.
  AdapterPort(const ProvidedTransport& provided, const ParamMap& params, bool* opened);
  ~AdapterPort() override;

  void purge() override;
  int32_t available() override;
  bool isOpen() override;

 private:
  bool openDevice() override;
  void closeDevice() override;
  std::string traceText() const override { return name_; }
  // Whether the transport is open is its own business: every transfer with
  // something to move reaches it.
  bool readBytes(uint8_t* buffer, int32_t length, int32_t timeout_ms) override;
  bool writeBytes(const uint8_t* buffer, int32_t length, int32_t timeout_ms) override;
  const ExternalTransportOps* ops() const;

  ExternalTransport* transport_;
  PortProvider provider_;
  std::string name_;
  int32_t open_ = 0;
};
