#pragma once

// The one conversion between the 8-bit Windows-1251 texts that the model,
// the project file and the configuration image hold, and the UTF-8 that
// widgets and terminals speak. Also the case folding used wherever texts are
// compared without regard to letter case.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace smsconf::text {

// Windows-1251 bytes to UTF-8. Total: every byte has a character (0x98,
// unassigned in the code page, becomes U+0098).
std::string Cp1251ToUtf8(std::string_view cp1251);

// One place in the input that Windows-1251 cannot hold.
struct EncodeError {
  std::size_t Offset = 0;    // byte offset in the UTF-8 input
  char32_t Character = 0;    // the character, or 0xFFFD for malformed UTF-8
  bool MalformedUtf8 = false;
};

struct EncodeResult {
  std::string Bytes;                 // '?' stands where an error was found
  std::vector<EncodeError> Errors;   // empty when the whole input was encoded
  bool Ok() const { return Errors.empty(); }
};

// UTF-8 to Windows-1251. Characters the code page lacks, and malformed UTF-8,
// are listed in Errors; callers must look at them before using Bytes.
EncodeResult Utf8ToCp1251(std::string_view utf8);

// Windows-1251 bytes to UTF-8 for a terminal: control bytes (below 0x20,
// 0x7F and 0x98) are shown as \xNN, so that a text from a file or a unit can
// never send escape sequences to the terminal.
std::string Cp1251ToTerminal(std::string_view cp1251);

// For the program's own UTF-8 literals (log lines, messages): the
// Windows-1251 bytes, or std::invalid_argument if the literal cannot be held.
std::string Cp1251(std::string_view utf8);

// A short description of an encoding error for messages, e.g.
// "character U+263A at byte 5 has no Windows-1251 code".
std::string Describe(const EncodeError& error);

// The lower-case partner of a Windows-1251 byte: Latin A-Z, Cyrillic А-Я and
// the Cyrillic letters of the upper half (Ё, Ђ, Ѓ, Є, Ѕ, І, Ї, Ј, Љ, Њ, Ћ, Ќ,
// Ў, Џ, Ґ). Every other byte is its own fold. Independent of the locale.
unsigned char FoldCase(unsigned char c);

// The text with every byte folded: equal for texts that differ only in the
// case of their letters, so it can key a lookup that ignores case.
std::string Folded(std::string_view cp1251);

// True when the two texts differ at most in the case of their letters.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace smsconf::text
