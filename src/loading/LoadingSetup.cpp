#include "loading/LoadingSetup.h"

#include <filesystem>
#include <span>
#include <system_error>

#include "files/FileBytes.h"
#include "files/FileSystem.h"
#include "image/ImageDecoder.h"
#include "image/ImageFormat.h"
#include "link/Parseip.h"

namespace smsconf {

namespace {

bool AddressValid(const std::string& gateway) {
  CParseIP address;
  return address.Parse(gateway, RpcDefaultPort);
}

LoadingSetup BadAddress() {
  LoadingSetup setup;
  setup.Verdict.Outcome = LoadingVerdict::BadAddress;
  return setup;
}

}  // namespace

LoadingImage ReadLoadingImage(const std::string& path, bool acceptDamaged) {
  LoadingImage image;
  LoadingVerdict& verdict = image.Verdict;
  // One byte more than fits tells a full image from a larger file.
  std::string bytes;
  if (ReadFileBytes(path, bytes, imageformat::UnitCapacity + 1, &verdict.Error) != FileRead::Read) {
    verdict.Outcome = LoadingVerdict::Unreadable;
    return image;
  }
  verdict.Error = 0;
  if (bytes.size() > imageformat::UnitCapacity) {
    verdict.Outcome = LoadingVerdict::TooLarge;
    std::error_code unknown;
    verdict.FileSize = std::filesystem::file_size(NativePath(path), unknown);
    return image;
  }
  image.Bytes.assign(bytes.begin(), bytes.end());
  // A unit takes whatever it is sent, so the image is checked the way it
  // will read it before anything goes out.
  const ImageDecodeResult decoded = CImageDecoder::Decode(std::span<const std::uint8_t>(image.Bytes));
  if (!decoded.Ok) {
    verdict.Defect = decoded.Defect;
    verdict.DefectSaid = decoded.DefectSaid;
    if (!acceptDamaged) verdict.Outcome = LoadingVerdict::Damaged;
  }
  return image;
}

LoadingSetup SetUpLoading(const LoadingTarget& target, const LoadingImage& image, CRPCInterface& rpc) {
  if (!AddressValid(target.Gateway)) return BadAddress();
  LoadingSetup setup;
  setup.Verdict = image.Verdict;
  if (setup.Verdict.Outcome != LoadingVerdict::Ready) return setup;

  auto procedure = std::make_unique<CThreadConfigLoading>();
  procedure->SetImage(image.Bytes.data(), image.Bytes.size());
  procedure->Client.Address = static_cast<std::uint32_t>(target.Unit);
  procedure->Client.Rpc = &rpc;
  procedure->Trace = target.Trace;
  rpc.Observer = target.Trace;
  rpc.Abort = false;
  rpc.AddressText = target.Gateway;
  rpc.Tries = target.Link.Tries;
  rpc.Timeout = target.Link.Timeout;
  rpc.Open();  // a transport that cannot open shows up as the first request failing
  setup.Procedure = std::move(procedure);
  return setup;
}

LoadingSetup SetUpLoading(const LoadingTarget& target, const std::string& imagePath, bool acceptDamaged,
                          CRPCInterface& rpc) {
  if (!AddressValid(target.Gateway)) return BadAddress();
  return SetUpLoading(target, ReadLoadingImage(imagePath, acceptDamaged), rpc);
}

}  // namespace smsconf
