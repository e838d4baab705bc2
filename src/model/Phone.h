#pragma once

#include <cstdint>
#include <string>

namespace smsconf {

// One recipient slot of the phone book. Texts are Windows-1251 bytes.
class CPhone {
 public:
  std::int32_t ID = 0;   // slot 0..7; bit ID of an event's Send addresses it
  std::string Number;    // as typed; the model checks nothing
  std::string Comment;   // the user's note; not compiled into the image
};

}  // namespace smsconf
