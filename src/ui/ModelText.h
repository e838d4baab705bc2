#pragma once

// The edge between the model's Windows-1251 bytes and the widgets' Unicode.

#include <QString>

#include <cstddef>
#include <optional>
#include <string>

#include "text/Wording.h"

class QWidget;

namespace smsconf {

// The model's bytes as the widgets show them.
QString ShownText(const std::string& cp1251);

// At most `limit` characters of the model's bytes, with "…" after them when
// there were more; only those are converted. Tables and lists show texts so,
// as a file can hold texts of any length and laying one out costs its length.
inline constexpr std::size_t ShownTextLimit = 200;
QString ShownText(const std::string& cp1251, std::size_t limit);

// A message of ours as the window says it: in Russian. It may quote a
// project file's value, so it is rendered in the file's code page.
QString ShownMessage(const text::Message& message);

// The typed text as the model stores it, or nothing when it holds a
// character that Windows-1251 cannot hold: then a warning box owned by
// `dialog` names the field and the character, and the caller keeps the
// dialog open with the text as typed.
std::optional<std::string> StoredText(const QString& typed, const QString& field, QWidget* dialog);

}  // namespace smsconf
