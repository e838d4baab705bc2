// How much processor time an unanswered request costs while it waits: a
// gateway that never replies, 15 tries of 250 ms (the loading dialog's
// defaults).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "link/Rpcinterface.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// A bound socket on the loopback address that never reads or answers.
int SilentGateway(std::uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return -1;
  socklen_t size = sizeof local;
  getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size);
  port = ntohs(local.sin_port);
  return fd;
}

}  // namespace

int main() {
  std::uint16_t port = 0;
  const int gateway = SilentGateway(port);
  if (gateway < 0) {
    std::perror("gateway socket");
    return 1;
  }
  smsconf::CRPCInterface rpc;
  rpc.AddressText = "127.0.0.1:" + std::to_string(port);
  rpc.Tries = 15;
  rpc.Timeout = 250;
  if (rpc.Open() != smsconf::RpcOk) {
    std::fprintf(stderr, "cannot open the transport\n");
    return 1;
  }
  smsconf::MemoryStream request{0x01, 0x11, 0xC0, 0x2C};
  smsconf::MemoryStream reply;

  const double cpuStart = CpuSeconds();
  const auto wallStart = std::chrono::steady_clock::now();
  const int result = rpc.ModbusRequest(request, reply);
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  const double cpu = CpuSeconds() - cpuStart;

  std::printf("unanswered request, %d tries x %u ms\n", rpc.Tries, rpc.Timeout);
  std::printf("result       %d\n", result);
  std::printf("wall time    %.3f s\n", wall);
  std::printf("CPU time     %.4f s\n", cpu);
  std::printf("CPU of core  %.3f %%\n", wall > 0 ? 100.0 * cpu / wall : 0.0);
  close(gateway);
  return 0;
}
