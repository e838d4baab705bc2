#include "text/Cp1251.h"

#include <array>
#include <cstdio>
#include <stdexcept>

namespace smsconf::text {

namespace {

// Unicode code points of the bytes 0x80..0xFF; the lower half is ASCII.
constexpr std::array<char16_t, 128> UpperHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// Upper/lower pairs of the upper half that lie outside the А-Я block.
constexpr std::array<std::array<unsigned char, 2>, 15> CyrillicPairs = {{
    {0xA8, 0xB8},  // Ё ё
    {0x80, 0x90},  // Ђ ђ
    {0x81, 0x83},  // Ѓ ѓ
    {0xAA, 0xBA},  // Є є
    {0xBD, 0xBE},  // Ѕ ѕ
    {0xB2, 0xB3},  // І і
    {0xAF, 0xBF},  // Ї ї
    {0xA3, 0xBC},  // Ј ј
    {0x8A, 0x9A},  // Љ љ
    {0x8C, 0x9C},  // Њ њ
    {0x8E, 0x9E},  // Ћ ћ
    {0x8D, 0x9D},  // Ќ ќ
    {0xA1, 0xA2},  // Ў ў
    {0x8F, 0x9F},  // Џ џ
    {0xA5, 0xB4},  // Ґ ґ
}};

constexpr std::array<unsigned char, 256> MakeFoldTable() {
  std::array<unsigned char, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = static_cast<unsigned char>(i);
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = static_cast<unsigned char>(c + 0x20);
  for (int c = 0xC0; c <= 0xDF; ++c) table[c] = static_cast<unsigned char>(c + 0x20);
  for (const auto& pair : CyrillicPairs) table[pair[0]] = pair[1];
  return table;
}

constexpr std::array<unsigned char, 256> FoldTable = MakeFoldTable();

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one UTF-8 sequence at s[pos]; returns its length, or 0 when the
// bytes there are not well-formed UTF-8 (overlong forms and surrogates
// included).
std::size_t DecodeUtf8(std::string_view s, std::size_t pos, char32_t& out) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(pos);
  std::size_t length;
  char32_t value;
  if (lead < 0x80) {
    out = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (pos + length > s.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char b = byte(pos + i);
    if ((b & 0xC0) != 0x80) return 0;
    value = (value << 6) | (b & 0x3F);
  }
  static constexpr char32_t Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < Smallest[length] || value > 0x10FFFF) return 0;
  if (value >= 0xD800 && value <= 0xDFFF) return 0;
  out = value;
  return length;
}

// The Windows-1251 byte of a character, or -1 when the code page lacks it.
int EncodeChar(char32_t c) {
  if (c < 0x80) return static_cast<int>(c);
  for (std::size_t i = 0; i < UpperHalf.size(); ++i) {
    if (UpperHalf[i] == c) return static_cast<int>(0x80 + i);
  }
  return -1;
}

}  // namespace

std::string Cp1251ToUtf8(std::string_view cp1251) {
  std::string out;
  out.reserve(cp1251.size() * 2);
  for (const char ch : cp1251) {
    const auto b = static_cast<unsigned char>(ch);
    AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{UpperHalf[b - 0x80]});
  }
  return out;
}

std::string Cp1251ToTerminal(std::string_view cp1251) {
  constexpr unsigned char Space = 0x20;
  constexpr unsigned char Delete = 0x7F;
  constexpr unsigned char C1Control = 0x98;  // the one C1 control the code page decodes to
  std::string out;
  out.reserve(cp1251.size() * 2);
  for (const char ch : cp1251) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < Space || b == Delete || b == C1Control) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(b));
      out += escaped;
    } else {
      AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{UpperHalf[b - 0x80]});
    }
  }
  return out;
}

EncodeResult Utf8ToCp1251(std::string_view utf8) {
  EncodeResult result;
  result.Bytes.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(utf8, pos, c);
    if (length == 0) {
      result.Errors.push_back({pos, 0xFFFD, true});
      result.Bytes += '?';
      ++pos;
      continue;
    }
    const int byte = EncodeChar(c);
    if (byte < 0) {
      result.Errors.push_back({pos, c, false});
      result.Bytes += '?';
    } else {
      result.Bytes += static_cast<char>(byte);
    }
    pos += length;
  }
  return result;
}

std::string Cp1251(std::string_view utf8) {
  EncodeResult result = Utf8ToCp1251(utf8);
  if (!result.Ok()) throw std::invalid_argument(Describe(result.Errors.front()));
  return std::move(result.Bytes);
}

std::string Describe(const EncodeError& error) {
  if (error.MalformedUtf8) {
    return "malformed UTF-8 at byte " + std::to_string(error.Offset);
  }
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(error.Character));
  std::string glyph;
  AppendUtf8(glyph, error.Character);
  return "character " + glyph + " (" + code + ") at byte " + std::to_string(error.Offset) +
         " has no Windows-1251 code";
}

unsigned char FoldCase(unsigned char c) { return FoldTable[c]; }

std::string Folded(std::string_view cp1251) {
  std::string folded(cp1251);
  for (char& c : folded) c = static_cast<char>(FoldTable[static_cast<unsigned char>(c)]);
  return folded;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldTable[static_cast<unsigned char>(a[i])] != FoldTable[static_cast<unsigned char>(b[i])]) {
      return false;
    }
  }
  return true;
}

}  // namespace smsconf::text
