#include "link/UdpSocket.h"

#include "link/SocketAddress.h"

namespace smsconf {

bool ParseIpv4(const std::string& text, std::uint32_t& address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  address = ntohl(parsed.s_addr);
  return true;
}

}  // namespace smsconf
