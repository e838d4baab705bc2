#include "ui/ModelText.h"

#include <QMessageBox>

#include "text/Cp1251.h"
#include "ui/Application.h"

namespace smsconf {

QString ShownText(const std::string& cp1251) {
  return QString::fromStdString(text::Cp1251ToUtf8(cp1251));
}

// Windows-1251 has one byte a character, so the prefix is cut in bytes.
QString ShownMessage(const text::Message& message) {
  return ShownText(message.Render(text::Language::Russian, text::Charset::Cp1251));
}

QString ShownText(const std::string& cp1251, std::size_t limit) {
  if (cp1251.size() <= limit) return ShownText(cp1251);
  return ShownText(cp1251.substr(0, limit)) + QChar(u'…');
}

std::optional<std::string> StoredText(const QString& typed, const QString& field, QWidget* dialog) {
  text::EncodeResult encoded = text::Utf8ToCp1251(typed.toStdString());
  if (encoded.Ok()) return std::move(encoded.Bytes);
  const char32_t character = encoded.Errors.front().Character;
  const QString glyph = QString::fromUcs4(&character, 1);
  QString name = field;
  if (name.endsWith(u':')) name.chop(1);
  const QString code = QStringLiteral("U+%1").arg(static_cast<uint>(character), 4, 16, QChar(u'0')).toUpper();
  QMessageBox box(QMessageBox::Warning, TApplication::Title(),
                  QStringLiteral("Поле «%1» содержит символ «%2» (%3), которого нет в кодировке "
                                 "Windows-1251. Замените или удалите его.")
                      .arg(name, glyph, code),
                  QMessageBox::Ok, dialog);
  box.exec();
  return std::nullopt;
}

}  // namespace smsconf
