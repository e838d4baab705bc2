#pragma once

// Assembles configuration images for the tests in the order a compile does:
// all texts into the string table, then header, string area, phone table,
// event table and checksum, each header word patched once known.

#include "image/ImageFormat.h"
#include "image/Output.h"
#include "image/SymTable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace smsconf::testing {

struct TestEvent {
  int Pin = 0;
  bool Neg = false;
  int Delay = 0;
  std::uint8_t Send = 0;
  std::string Text;
};

inline void Assemble(COutput& out, const std::vector<std::string>& numbers,
                     const std::vector<TestEvent>& events) {
  CSymTable table;
  for (const std::string& number : numbers) table.AddString(number);
  for (const TestEvent& event : events) table.AddString(event.Text);

  out.PutWord(imageformat::Signature);
  const std::int32_t lengthWord = out.ReserveWord();
  const std::int32_t phoneTableWord = out.ReserveWord();
  const std::int32_t eventTableWord = out.ReserveWord();
  out.PutBytes(table.Code(), table.Length());

  out.PatchWord(phoneTableWord, static_cast<std::uint32_t>(out.Position()));
  out.PutByte(static_cast<std::uint8_t>(numbers.size()));
  for (const std::string& number : numbers) {
    out.PutWord(static_cast<std::uint32_t>(table.AddString(number)) + imageformat::StringAreaStart);
  }

  out.PatchWord(eventTableWord, static_cast<std::uint32_t>(out.Position()));
  out.PutByte(static_cast<std::uint8_t>(events.size()));
  for (const TestEvent& event : events) {
    out.PutWord(static_cast<std::uint32_t>(event.Delay));
    out.PutWord(event.Send);
    out.PutByte(static_cast<std::uint8_t>(event.Pin));
    out.PutByte(event.Neg ? 1 : 0);
    out.PutWord(static_cast<std::uint32_t>(table.AddString(event.Text)) + imageformat::StringAreaStart);
  }

  out.PatchWord(lengthWord, static_cast<std::uint32_t>(out.Position() + 1));
  out.PutByte(imageformat::Checksum(out.Code(), static_cast<std::size_t>(out.Position())));
}

inline std::vector<std::uint8_t> AssembleImage(const std::vector<std::string>& numbers,
                                               const std::vector<TestEvent>& events) {
  COutput out;
  Assemble(out, numbers, events);
  return std::vector<std::uint8_t>(out.Code(), out.Code() + out.Length());
}

inline std::vector<std::string> EmptyPhones() { return std::vector<std::string>(8); }

// Worked example: phone 0 has a number, one falling-edge event on DI5.
inline std::vector<std::uint8_t> AlarmImage() {
  std::vector<std::string> phones = EmptyPhones();
  phones[0] = "+70000000001";
  return AssembleImage(phones, {{5, true, 300, 0x01, "\xC0\xE2\xE0\xF0\xE8\xFF"}});
}

}  // namespace smsconf::testing
