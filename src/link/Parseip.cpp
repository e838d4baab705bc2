#include "link/Parseip.h"

#include <climits>
#include <cstddef>

namespace smsconf {

namespace {

constexpr int OctetMax = 255;
constexpr int PortMax = 65535;

// Reads the address text the way the C scanning functions would read it
// with "%d" items and literal separators, but without their undefined
// behaviour on huge numbers and without a buffer for the trailing text.
class Scanner {
 public:
  explicit Scanner(const std::string& text) : Text(text) {}

  // Like "%d": blanks, an optional sign, at least one decimal digit. A number
  // that does not fit an int is not a number here.
  bool Number(int& value) {
    SkipBlanks();
    bool negative = false;
    if (Pos < Text.size() && (Text[Pos] == '+' || Text[Pos] == '-')) {
      negative = Text[Pos] == '-';
      ++Pos;
    }
    if (Pos >= Text.size() || !IsDigit(Text[Pos])) return false;
    long long magnitude = 0;
    while (Pos < Text.size() && IsDigit(Text[Pos])) {
      magnitude = magnitude * 10 + (Text[Pos] - '0');
      if (magnitude > static_cast<long long>(INT_MAX) + 1) return false;
      ++Pos;
    }
    const long long signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT_MAX) return false;
    value = static_cast<int>(signedValue);
    return true;
  }

  // A separator in the pattern matches only itself: no blank before it.
  bool Literal(char c) {
    if (Pos >= Text.size() || Text[Pos] != c) return false;
    ++Pos;
    return true;
  }

  // True when a trailing "%s" would find nothing to convert.
  bool OnlyBlanksLeft() {
    SkipBlanks();
    return Pos == Text.size();
  }

 private:
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  }
  void SkipBlanks() {
    while (Pos < Text.size() && IsBlank(Text[Pos])) ++Pos;
  }

  const std::string& Text;
  std::size_t Pos = 0;
};

bool ScanDotted(Scanner& scanner, int (&octet)[4]) {
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && !scanner.Literal('.')) return false;
    if (!scanner.Number(octet[i])) return false;
  }
  return true;
}

}  // namespace

bool CParseIP::Parse(std::string text, int defaultPort) {
  Scanner withPort(text);
  int port = 0;
  if (ScanDotted(withPort, Octet) && withPort.Literal(':') && withPort.Number(port) &&
      withPort.OnlyBlanksLeft()) {
    // A text that names a bad port is wrong; it is not read again without it.
    if (port <= 0 || port > PortMax) return false;
    Port = port;
  } else {
    Port = defaultPort;
    Scanner shortForm(text);
    if (!ScanDotted(shortForm, Octet) || !shortForm.OnlyBlanksLeft()) return false;
  }
  for (int value : Octet)
    if (value < 0 || value > OctetMax) return false;
  Address = std::to_string(Octet[0]) + '.' + std::to_string(Octet[1]) + '.' +
            std::to_string(Octet[2]) + '.' + std::to_string(Octet[3]);
  return true;
}

}  // namespace smsconf
