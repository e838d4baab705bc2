#pragma once

// A unit behind the gateway, as a Modbus RTU device: it hears every frame
// on the line, keeps only intact ones addressed to it, and answers the
// requests of the configuration loading. The blocks it is sent are kept as
// the received image, which every switch into configuration-loading mode
// starts afresh.

#include <cstdint>
#include <optional>
#include <vector>

#include "image/ImageFormat.h"
#include "sim/SimulatorOptions.h"

namespace smsconf::sim {

using Frame = std::vector<std::uint8_t>;

// Standard Modbus exception codes the unit answers with.
inline constexpr std::uint8_t IllegalFunction = 1;
inline constexpr std::uint8_t IllegalDataAddress = 2;
inline constexpr std::uint8_t IllegalDataValue = 3;

enum class FrameVerdict { Ours, TooShort, BadCrc, OtherUnit };

class CSimulatedUnit {
 public:
  explicit CSimulatedUnit(const UnitOptions& options);

  // Whether a frame is intact (Ours, whatever unit it is addressed to);
  // a unit acts only on intact frames with its own address.
  static FrameVerdict CheckIntact(const Frame& frame);
  const UnitOptions& Settings() const { return Options; }
  // The reply to a frame that Check found ours; no value when the unit
  // stays silent.
  std::optional<Frame> Answer(const Frame& frame);

  // The "server device busy" exception to this function.
  Frame Busy(std::uint8_t function) const;

  const std::vector<std::uint8_t>& ReceivedImage() const { return Image; }
  const std::vector<std::uint32_t>& BlockAddresses() const { return Accepted; }

 private:
  Frame ReportSlaveId(const Frame& request) const;
  std::optional<Frame> EnterBootMode(const Frame& request);
  Frame EnterConfigMode(const Frame& request);
  Frame WriteBlock(const Frame& request);
  Frame FinishLoading(const Frame& request) const;
  Frame EnterRunMode(const Frame& request) const;

  bool FitsImage(std::uint32_t address, std::size_t length) const;
  void Store(std::uint32_t address, const std::uint8_t* data, std::size_t length);
  Frame Reply(Frame body) const;
  Frame Exception(std::uint8_t function, std::uint8_t code) const;

  UnitOptions Options;
  unsigned BootRequests = 0;
  unsigned WriteRequests = 0;
  std::vector<std::uint8_t> Image;
  std::vector<std::uint32_t> Accepted;
};

}  // namespace smsconf::sim
