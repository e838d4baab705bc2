// smsconf-cli dump IMAGE: checks a configuration image the way a unit reads
// it and prints what it holds, or the first defect found.

#include "cli/Command.h"
#include "files/FileBytes.h"
#include "image/ImageDecoder.h"
#include "image/ImageFormat.h"
#include "text/Cp1251.h"

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <new>
#include <string>

namespace smsconf::cli {

namespace {

using imageformat::LargestImage;

std::string Trigger(const ImageEvent& event) {
  return "DI" + std::to_string(event.Pin) + "-" + (event.Neg ? "F" : "R") + "-" +
         std::to_string(event.Delay);
}

std::string Recipients(std::uint8_t send) {
  std::string slots;
  for (int slot = 0; slot < imageformat::PhoneSlots; ++slot) {
    if ((send >> slot & 1) == 0) continue;
    if (!slots.empty()) slots += ',';
    slots += std::to_string(slot);
  }
  return slots.empty() ? "-" : slots;
}

std::string Padded(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

void PrintHeader(const DecodedImage& image) {
  char line[256];
  std::snprintf(line, sizeof line,
                "Signature     0x%04X\n"
                "Length        %u bytes\n"
                "Phone table   offset %u\n"
                "Event table   offset %u\n"
                "String area   %zu bytes\n"
                "Checksum      0x%02X\n",
                unsigned(image.Signature), unsigned(image.Length), unsigned(image.PhoneTable),
                unsigned(image.EventTable), image.StringAreaSize, unsigned(image.Checksum));
  std::cout << line;
}

void PrintPhones(const ImageContent& content) {
  std::cout << "\nPhones (" << content.Numbers.size() << ")\n";
  std::cout << "  Slot  Number\n";
  for (std::size_t slot = 0; slot < content.Numbers.size(); ++slot) {
    const std::string& number = content.Numbers[slot];
    std::cout << "  " << Padded(std::to_string(slot), 6)
              << (number.empty() ? "(empty)" : text::Cp1251ToTerminal(number)) << '\n';
  }
}

void PrintEvents(const ImageContent& content) {
  std::cout << "\nEvents (" << content.Events.size() << ")\n";
  std::cout << "  Id    Trigger        Recipients       Text\n";
  for (std::size_t i = 0; i < content.Events.size(); ++i) {
    const ImageEvent& event = content.Events[i];
    std::cout << "  " << Padded(std::to_string(i), 6) << Padded(Trigger(event), 15)
              << Padded(Recipients(event.Send), 17) << text::Cp1251ToTerminal(event.Text) << '\n';
  }
}

int DumpFile(const std::string& path) {
  // One byte more than an image can have tells an oversized file apart.
  std::string bytes;
  int error = 0;
  if (ReadFileBytes(path, bytes, LargestImage + 1, &error) != FileRead::Read) {
    std::cerr << "Cannot open file " << path << ": " << FileErrorReason(error) << '\n';
    return ExitFailure;
  }
  if (bytes.size() > LargestImage) {
    std::cerr << path << ": file is longer than the largest possible image of " << LargestImage
              << " bytes\n";
    return ExitFailure;
  }
  const ImageDecodeResult result = CImageDecoder::Decode(
      {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  if (!result.Ok) {
    std::cerr << path << ": " << result.Defect << '\n';
    return ExitFailure;
  }
  PrintHeader(result.Image);
  PrintPhones(result.Image.Content);
  PrintEvents(result.Image.Content);
  return ExitOk;
}

int Dump(const std::string& path) {
  try {
    return DumpFile(path);
  } catch (const std::bad_alloc&) {
    std::cerr << path << ": out of memory" << std::endl;
    return ExitFailure;
  }
}

}  // namespace

std::function<int()> SetupDump(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("dump", "Check a configuration image and print its contents");
  auto path = std::make_shared<std::string>();
  sub->add_option("IMAGE", *path, "Configuration image file")->required();
  return [path] { return Dump(*path); };
}

}  // namespace smsconf::cli
