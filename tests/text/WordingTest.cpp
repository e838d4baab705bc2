#include "text/Wording.h"

#include "text/Cp1251.h"

#include <gtest/gtest.h>

namespace smsconf::text {
namespace {

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Each wording says the same in both languages: the same arguments, each
// once, and words of its own in Russian except for the fixed beginnings of
// the file errors and the joints of two messages. Every Russian text can be held in Windows-1251.
TEST(Wording, EveryWordingHasBothLanguagesWithTheSameArguments) {
  const std::vector<Message> arguments{"<1>", "<2>", "<3>", "<4>"};
  for (int i = 0; i < WordingCount; ++i) {
    const auto wording = static_cast<Wording>(i);
    SCOPED_TRACE(i);
    const Message message(wording, arguments);
    const std::string english = message.Render(Language::English);
    const std::string russian = message.Render(Language::Russian);
    for (const Message& argument : arguments) {
      const std::string marker = argument.Render(Language::English);
      EXPECT_EQ(Count(english, marker), Count(russian, marker)) << english << " | " << russian;
      EXPECT_LE(Count(english, marker), 1u) << english;
    }
    const bool fixed = wording == Wording::Verbatim || wording == Wording::CannotOpen ||
                       wording == Wording::CannotCreate || wording == Wording::CannotWrite ||
                       wording == Wording::InFile || wording == Wording::BothOf;
    EXPECT_EQ(english == russian, fixed) << english;
    EXPECT_EQ(message.Render(Language::Russian, Charset::Cp1251), Cp1251(russian));
  }
}

// Arguments go in as they are, and a message inside another is rendered in
// the same language; an error says its English.
TEST(Wording, MessagesNestAndKeepTheirArgumentsAsTheyAre) {
  const struct {
    Message Said;
    std::string English, Russian;
  } cases[] = {
      {{Wording::CannotOpen, {"/tmp/проект.sms", Wording::NoSuchFile}},
       "Cannot open file /tmp/проект.sms: no such file", "Cannot open file /tmp/проект.sms: нет такого файла"},
      {{Wording::OldImageLost, {Message(Wording::CannotCreate, {"s.c", Wording::DiskFull}), "i.bin", "x"}},
       "Cannot create file s.c: disk full; i.bin now holds the new image, and the old one could not be put back: x",
       "Cannot create file s.c: диск заполнен; в i.bin теперь новый образ, а старый вернуть не удалось: x"},
      {{Wording::NotAnInteger, {"%1%2"}}, "\"%1%2\" is not an integer in the 32-bit range; read as 0",
       "\"%1%2\" — не целое число в 32-битном диапазоне; читается как 0"},
      {{Wording::TooManyEvents, {"10003", "255"}}, "Too many events: 10003; the image holds at most 255",
       "Слишком много событий: 10003; образ вмещает не более 255"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.Said.Render(Language::English), c.English);
    EXPECT_EQ(c.Said.Render(Language::Russian), c.Russian);
    const MessageError error(c.Said);
    EXPECT_EQ(error.what(), c.English);
    EXPECT_EQ(SaidBy(error).Render(Language::Russian), c.Russian);
  }
  EXPECT_EQ(SaidBy(std::runtime_error("plain")).Render(Language::Russian), "plain");
}

}  // namespace
}  // namespace smsconf::text
