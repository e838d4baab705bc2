#include "image/ExportedFiles.h"

#include "image/ImageFormat.h"
#include "image/Output.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace smsconf {

using text::Wording;

namespace {

constexpr char SignatureBytes[] = {char(imageformat::Signature & 0xFF), char(imageformat::Signature >> 8)};
constexpr std::string_view SourceStart = "#include";
// What an editor may add or change at the end of a line.
constexpr std::string_view TrailingBlanks = " \t\r";
// The array's first byte stands on line 5, after the two include lines, the
// declaration and its brace.
constexpr std::size_t ArrayLine = 4;
constexpr std::string_view ArrayEnd = "};";
// A line quoted in a refusal is cut after this many characters.
constexpr std::size_t QuotedLength = 60;

// The lines without trailing blanks, and without the blank lines at the end.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    line = line.substr(0, line.find_last_not_of(TrailingBlanks) + 1);  // npos + 1 is 0
    lines.push_back(line);
    start = end + 1;
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

// A line as a message quotes it: tabs as \t, and anything but printable
// ASCII as \xNN, so that no byte of the file reaches a terminal as it is.
std::string Quoted(std::string_view line) {
  std::string quoted;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (i == QuotedLength) return quoted + "...";
    const auto c = static_cast<unsigned char>(line[i]);
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(c));
    quoted += c == '\t' ? "\\t" : c >= 0x20 && c < 0x7F ? std::string(1, char(c)) : escaped;
  }
  return quoted;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "\t0xAB" with or without its comma. Other indents and lower-case digits
// are taken too, so that the comparison with what an export writes names
// their line.
bool ReadByteLine(std::string_view line, std::uint8_t& byte) {
  line.remove_prefix(std::min(line.size(), line.find_first_not_of(" \t")));
  if (line.ends_with(',')) line.remove_suffix(1);
  if (line.size() != 4 || !line.starts_with("0x")) return false;
  const int high = HexDigit(line[2]), low = HexDigit(line[3]);
  if (high < 0 || low < 0) return false;
  byte = static_cast<std::uint8_t>(high * 16 + low);
  return true;
}

// The bytes of the array as they come; the source an export would write for
// them must then be the given one, line for line.
bool ReadSource(std::string_view text, ExportedImage& read) {
  const std::vector<std::string_view> given = Lines(text);
  // The array's first line, and every line after a comma but the array's
  // end, must be a byte: one that is not is named itself, not by the line
  // before it. One byte more than any image ends the array where no export
  // ends it.
  for (std::size_t i = ArrayLine; i < given.size() && read.Bytes.size() <= imageformat::LargestImage; ++i) {
    std::uint8_t byte = 0;
    if (ReadByteLine(given[i], byte)) {
      read.Bytes.push_back(byte);
    } else if (given[i] != ArrayEnd && (i == ArrayLine || given[i - 1].ends_with(','))) {
      read.Refusal = {Wording::SourceNotAByte, {std::to_string(i + 1), Quoted(given[i])}};
      return false;
    } else {
      break;
    }
  }
  const std::string written = FirmwareSource(read.Bytes);
  const std::vector<std::string_view> expected = Lines(written);
  for (std::size_t i = 0; i < std::max(given.size(), expected.size()); ++i) {
    const std::string line = std::to_string(i + 1);
    if (i >= given.size()) {
      read.Refusal = {Wording::SourceEndsEarly, {line, Quoted(expected[i])}};
    } else if (i >= expected.size()) {
      read.Refusal = {Wording::SourceGoesOn, {line, Quoted(given[i])}};
    } else if (given[i] != expected[i]) {
      read.Refusal = {Wording::SourceLineDiffers, {line, Quoted(given[i]), Quoted(expected[i])}};
    } else {
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace

ConfigurationKind KindOfConfiguration(std::string_view bytes) {
  if (bytes.starts_with(std::string_view(SignatureBytes, sizeof SignatureBytes))) return ConfigurationKind::Image;
  // A byte-order mark or blank lines before the include line, as an editor
  // may leave them, still make a source, which the reading then refuses.
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  const std::size_t first = bytes.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && bytes.substr(first).starts_with(SourceStart)) {
    return ConfigurationKind::Source;
  }
  return ConfigurationKind::Project;
}

ExportedImage ReadExportedImage(std::string_view bytes, ConfigurationKind kind) {
  ExportedImage read;
  if (kind == ConfigurationKind::Source) {
    if (!ReadSource(bytes, read)) return read;
  } else {
    read.Bytes.assign(bytes.begin(), bytes.end());
  }
  ImageDecodeResult decoded = CImageDecoder::Decode(read.Bytes);
  read.Ok = decoded.Ok;
  read.Refusal = decoded.DefectSaid;
  read.Image = std::move(decoded.Image);
  return read;
}

}  // namespace smsconf
