// A Port whose operations go to a transport the application supplied
// through its PortProvider.
#pragma once

#include <cstdint>
#include <string>

#include "connection/port.h"
#include "connection/port_trace.h"
#include "connection/port_provider.h"
#include "platform/text_helpers.h"

class AdapterPort : public Port {
 public:
  // Opens `provided.transport` with the map's "name" and the provider's
  // parameter; `*opened` (when not null) tells whether it opened. The
  // transport goes back through `provided.provider.destroy` when the port is
  // deleted, opened or not.
  AdapterPort(const ProvidedTransport& provided, const ParamMap& params, bool* opened);
  ~AdapterPort() override;
  AdapterPort(const AdapterPort&) = delete;
  AdapterPort& operator=(const AdapterPort&) = delete;

  void close() override;
  bool read(uint8_t* buffer, int32_t length, int32_t timeout_ms) override;
  bool write(const uint8_t* buffer, int32_t length, int32_t timeout_ms) override;
  void purge() override;
  int32_t available() override;
  bool isOpen() override;
  bool reopen() override;

  std::string logFileName() const;

 private:
  bool openTransport();
  void closeTransport();
  const ExternalTransportOps* ops() const;

  ExternalTransport* transport_;
  PortProvider provider_;
  std::string name_;
  int32_t open_ = 0;
  PortTrace trace_;
};
