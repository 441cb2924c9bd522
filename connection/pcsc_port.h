// The port of a reader behind the PC/SC service (pcsc-lite). A reader frame
// goes out as the command of one card transmission; the whole response is
// queued by `write` and taken out piece by piece by the `read`s after it.
// The port never waits: time-outs are not used.
#pragma once

#include <winscard.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "connection/port_base.h"
#include "platform/text_helpers.h"

// The reader a port named `name` connects to, out of the readers the
// service lists (in list order): `name` itself when listed exactly;
// otherwise, for `name` = base + " i" / " ii" / " ii ii" (a decimal index
// as the device manager writes it), the index-th listed reader whose
// pcsc-lite name is that base, optionally after one vendor word and
// followed by " [...]" and/or " (...)", ending in " XX YY". "" when none.
std::string pcsc_pick_reader(const std::vector<std::string>& listed, const std::string& name);

class PcscPort : public PortBase {
 public:
  // Keys: "scope" ("user" or "system") and "name" (the reader name).
  PcscPort(const ParamMap& params, bool* opened);
  ~PcscPort() override;

  void purge() override;
  int32_t available() override;
  bool isOpen() override;

  // SCARD_PROTOCOL_T0 or SCARD_PROTOCOL_T1 while open, else 0.
  DWORD activeProtocol() const { return open_ ? protocol_ : 0; }

 private:
  bool openDevice() override;
  // Disconnects.
  void closeDevice() override;
  std::string traceText() const override { return name_; }
  bool mayTransfer(Direction) override { return open_; }
  bool readBytes(uint8_t* buffer, int32_t length, int32_t timeout_ms) override;
  // Transmits.
  bool writeBytes(const uint8_t* buffer, int32_t length, int32_t timeout_ms) override;

  std::string scope_;
  std::string name_;
  bool open_ = false;
  SCARDCONTEXT context_ = 0;
  SCARDHANDLE card_ = 0;
  DWORD protocol_ = 0;
  std::deque<uint8_t> rx_;
};
