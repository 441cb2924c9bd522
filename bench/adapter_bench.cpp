// Cost of the application-supplied port and the DLE framing over a bare
// socketpair round trip of the same frame size. Each pair runs in one
// program run so the figures are comparable.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <thread>
#include <vector>

#include "connection/adapter_port.h"
#include "connection/dle_protocol.h"
#include "sim/m6_reader.h"
#include "sim/socket_transport.h"

namespace {

bool read_all(int fd, uint8_t* buf, size_t n) {
  size_t have = 0;
  while (have < n) {
    ssize_t got = read(fd, buf + have, n - have);
    if (got <= 0) return false;
    have += size_t(got);
  }
  return true;
}

bool write_all(int fd, const uint8_t* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    ssize_t put = write(fd, buf + done, n - done);
    if (put <= 0) return false;
    done += size_t(put);
  }
  return true;
}

// The frame goes out and the same number of bytes comes back from an echo
// thread: the floor any transport on this socketpair can reach.
void BM_BareSocketpair(benchmark::State& state) {
  const size_t n = size_t(state.range(0));
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  std::thread echo([fd = fds[1], n] {
    std::vector<uint8_t> buf(n);
    while (read_all(fd, buf.data(), n) && write_all(fd, buf.data(), n)) {
    }
  });
  std::vector<uint8_t> frame(n, 0x41), reply(n);
  for (auto _ : state) {
    if (!write_all(fds[0], frame.data(), n) || !read_all(fds[0], reply.data(), n)) {
      state.SkipWithError("round trip");
      break;
    }
  }
  shutdown(fds[0], SHUT_RDWR);
  echo.join();
  close(fds[0]);
  close(fds[1]);
}

// One DLE exchange through AdapterPort to the m6 reader simulator: the
// command is sized so that its frame is `range(0)` bytes (6: getver), and
// the reader echoes a reply frame of the same size.
void BM_DleThroughAdapterPort(benchmark::State& state) {
  const int32_t frame = int32_t(state.range(0));
  const int32_t command = frame - 5;
  PortProvider provider;
  socket_transport_provider(&provider, nullptr);
  ProvidedTransport provided{nullptr, provider};
  provider.create("vnet", &provided.transport);
  M6Reader reader(socket_transport_peer(provided.transport), M6Reader::Framing::kDle);
  bool opened = false;
  AdapterPort port(provided, ParamMap{{"name", "127.0.0.1:7001"}}, &opened);
  DleProtocol dle(&port);
  std::vector<uint8_t> buf(2048);
  const int32_t expect = command == 1 ? 3 : command;
  for (auto _ : state) {
    buf[0] = command == 1 ? 0x80 : 0x41;
    for (int32_t i = 1; i < command; ++i) buf[size_t(i)] = uint8_t(i);
    if (dle.transceive(buf.data(), command, 2048, 1000) != expect) {
      state.SkipWithError("exchange");
      break;
    }
  }
}

}  // namespace

BENCHMARK(BM_BareSocketpair)->Arg(6)->Arg(9)->Arg(260)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DleThroughAdapterPort)->Arg(6)->Arg(9)->Arg(260)->UseRealTime()->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
