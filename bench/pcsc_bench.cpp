// Round trips through the private pcscd and the vpcd fake card: a bare
// SCardTransmit against a StxEtxProtocol exchange over PcscPort, each with a
// 9-byte and a 260-byte frame. The card echoes what it gets, which for a
// frame is a well-formed reply with the same payload.
#include <benchmark/benchmark.h>
#include <winscard.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "connection/pcsc_port.h"
#include "connection/stx_etx_protocol.h"
#include "sim/pcscd_harness.h"
#include "sim/vpcd_card.h"

namespace {

constexpr int32_t kOverhead = StxEtxProtocol::kOverhead;

std::vector<uint8_t> frame_of_payload(size_t payload_length) {
  std::vector<uint8_t> payload(payload_length);
  for (size_t i = 0; i < payload_length; ++i) payload[i] = uint8_t(i);
  std::vector<uint8_t> frame(payload_length + kOverhead);
  StxEtxProtocol::buildFrame(payload.data(), int32_t(payload_length), frame.data());
  return frame;
}

void BM_BareTransmit(benchmark::State& state) {
  const std::vector<uint8_t> frame = frame_of_payload(size_t(state.range(0)) - kOverhead);
  SCARDCONTEXT context = 0;
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS ||
      SCardConnect(context, PcscdHarness::readerName(0).c_str(), SCARD_SHARE_SHARED,
                   SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol) != SCARD_S_SUCCESS) {
    state.SkipWithError("no PC/SC connection to the fake card");
    return;
  }
  std::vector<uint8_t> response(8192);
  for (auto _ : state) {
    DWORD length = DWORD(response.size());
    if (SCardTransmit(card, SCARD_PCI_T1, frame.data(), DWORD(frame.size()), nullptr,
                      response.data(), &length) != SCARD_S_SUCCESS ||
        length != frame.size()) {
      state.SkipWithError("transmit failed");
      break;
    }
    benchmark::DoNotOptimize(response.data());
  }
  SCardDisconnect(card, SCARD_LEAVE_CARD);
  SCardReleaseContext(context);
  state.SetLabel("bytes per frame: " + std::to_string(frame.size()));
}

void BM_StxEtxOverPcscPort(benchmark::State& state) {
  const int32_t payload_length = int32_t(state.range(0)) - kOverhead;
  bool opened = false;
  PcscPort port({{"scope", "user"}, {"name", std::string(PcscdHarness::kReaderBase) + " 0"}},
                &opened);
  if (!opened) {
    state.SkipWithError("PcscPort did not open");
    return;
  }
  StxEtxProtocol protocol(&port);
  std::vector<uint8_t> payload(static_cast<size_t>(payload_length));
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i);
  std::vector<uint8_t> buffer(2048);
  for (auto _ : state) {
    std::copy(payload.begin(), payload.end(), buffer.begin());
    port.purge();
    if (protocol.transceive(buffer.data(), payload_length, int32_t(buffer.size()), 5000) !=
        payload_length) {
      state.SkipWithError("exchange failed");
      break;
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetLabel("bytes per frame: " + std::to_string(payload_length + kOverhead));
}

BENCHMARK(BM_BareTransmit)->Arg(9)->Arg(260)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StxEtxOverPcscPort)->Arg(9)->Arg(260)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  PcscdHarness& harness = PcscdHarness::instance();
  std::string error;
  if (!harness.start(&error)) {
    std::fprintf(stderr, "pcscd: %s\n", error.c_str());
    return 1;
  }
  VpcdCard card(harness.cardPort(0), VpcdCard::atrT1());
  card.setHandler([](const std::vector<uint8_t>& command) { return command; });
  card.start();
  if (!harness.waitCard(0, true)) {
    std::fprintf(stderr, "the fake card did not come up\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  card.stop();
  harness.stop();
  return 0;
}
