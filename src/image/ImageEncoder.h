#pragma once

#include "image/ImageContent.h"

#include <cstdint>
#include <vector>

namespace smsconf {

// The configuration image of `content`, checksum included: the texts once
// each in the string area in order of first use (numbers first), then the
// phone table and the event table. Content the image cannot hold (more than
// 255 numbers or events, a Pin or Delay too wide for its field, a text or
// the whole image past 64 KiB) throws std::runtime_error naming the phone or
// event and the field.
std::vector<std::uint8_t> EncodeImage(const ImageContent& content);

// The content as the image of it holds it, which decoding gives back: each
// text up to its first 0 byte, and in the spelling of the first text that
// equals it but for letter case. Nothing is checked.
ImageContent StoredContent(ImageContent content);

}  // namespace smsconf
