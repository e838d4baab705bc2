#pragma once

// Gateway datagrams in words, for the wire trace: the header's command and
// sequence number, then the Modbus frame inside, with the names this
// program gives the unit's functions, the memory address and length, the
// echo, an exception and its meaning, and whether the CRC is right.

#include <cstdint>
#include <span>
#include <string>

namespace smsconf::trace {

using Bytes = std::span<const std::uint8_t>;

// What a reply's payload holds is told only by the request it answers.
enum class ReplyTo { Unknown, GatewayInfo, Modbus };

// One line about a datagram going either way: "request seq 0x1234 Modbus
// unit 1 WriteBlock, address 0x8000, 64 bytes, CRC ok"; in UTF-8, with the
// unit's and the gateway's texts' control bytes escaped. A reply to an
// Unknown request is read as a Modbus frame when its CRC is right or it is
// too short to hold the gateway's address, else as the gateway's
// information.
std::string DescribeDatagram(Bytes datagram, ReplyTo replyTo = ReplyTo::Unknown);

// A function code by the name of the operation that sends it
// ("EnterBootMode"); nullptr for one this program never sends.
const char* OperationName(std::uint8_t function);
// What a Modbus exception code means ("server device busy").
const char* ExceptionMeaning(std::uint8_t code);
// "21 AB 34 12": every byte as two upper-case hex digits.
std::string HexBytes(Bytes bytes);
// "seq 0x1234": a request's sequence number as every trace line names it.
std::string SequenceText(std::uint16_t sequence);

}  // namespace smsconf::trace
