#pragma once

#include <QUndoCommand>

#include <cstdint>

namespace smsconf {

// A change to the project's content, as the window's undo stack holds it.
// Its serial tells it from every other change of the run, also from one
// that a later change put at the same place on the stack after an undo.
class TProjectChange : public QUndoCommand {
 public:
  explicit TProjectChange(const QString& text) : QUndoCommand(text), Serial(++LastSerial) {}

  const std::uint64_t Serial;

 private:
  inline static std::uint64_t LastSerial = 0;
};

}  // namespace smsconf
