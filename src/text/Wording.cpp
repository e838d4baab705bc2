#include "text/Wording.h"

#include "text/Cp1251.h"

#include <cstddef>
#include <utility>

namespace smsconf::text {

namespace {

struct Texts {
  const char* English;
  const char* Russian;  // UTF-8, as this file is
};

// Every case is here: the compiler names a wording added without its texts.
Texts TextsOf(Wording wording) {
  switch (wording) {
    case Wording::Verbatim: return {"%1", "%1"};
    case Wording::CannotOpen: return {"Cannot open file %1: %2", "Cannot open file %1: %2"};
    case Wording::CannotCreate: return {"Cannot create file %1: %2", "Cannot create file %1: %2"};
    case Wording::CannotWrite: return {"Cannot write file %1: %2", "Cannot write file %1: %2"};

    case Wording::NoSuchFile: return {"no such file", "нет такого файла"};
    case Wording::NoSuchFolder: return {"no such folder", "нет такой папки"};
    case Wording::FolderOnTheWay: return {"a folder on the way is not a folder", "одна из папок на пути — не папка"};
    case Wording::PermissionDenied: return {"permission denied", "нет доступа"};
    case Wording::IsFolder: return {"is a directory", "это папка"};
    case Wording::DiskFull: return {"disk full", "диск заполнен"};
    case Wording::QuotaExceeded: return {"disk quota exceeded", "превышена дисковая квота"};
    case Wording::FileTooLarge: return {"file too large", "файл слишком велик"};
    case Wording::ReadOnlyFileSystem: return {"read-only file system", "файловая система только для чтения"};
    case Wording::TooManyLinks: return {"too many symbolic links", "слишком много символических ссылок"};
    case Wording::NameTooLong: return {"name too long", "слишком длинное имя"};
    case Wording::SystemError: return {"%1", "ошибка системы (%1)"};
    case Wording::NoFileName: return {"no file name", "нет имени файла"};
    case Wording::ProjectTooLarge:
      return {"larger than 16 MiB, too large for a project file", "больше 16 МиБ, слишком велик для файла проекта"};
    case Wording::LinkToNothing: return {"a symbolic link to nothing", "символическая ссылка ни на что"};
    case Wording::LinkNotFollowed:
      return {"the symbolic link %1 is in a sticky folder that everyone may write to and belongs neither to this "
              "user nor to the folder's owner, so it is not followed",
              "символическая ссылка %1 лежит в общей папке с битом sticky и не принадлежит ни этому "
              "пользователю, ни владельцу папки, поэтому по ней не переходим"};
    case Wording::NotRegularFile:
      return {"not a regular file (a device, FIFO or socket)", "не обычный файл (устройство, FIFO или сокет)"};
    case Wording::LargerThanAnyExport:
      return {"the file there is larger than any image or source, so it is not replaced",
              "файл на этом месте больше любого образа и исходного текста, поэтому он не заменяется"};
    case Wording::IsTheProjectFile:
      return {"it is the project file being compiled", "это файл проекта, который экспортируется"};
    case Wording::IsAlsoTheImage: return {"it is also the image file", "это также файл образа"};
    case Wording::Interrupted: return {"interrupted", "прервано"};
    case Wording::ExportUnderWay:
      return {"another export of this pair is under way", "другой экспорт в эти же файлы ещё не закончен"};
    case Wording::OldImageLost:
      return {"%1; %2 now holds the new image, and the old one could not be put back: %3",
              "%1; в %2 теперь новый образ, а старый вернуть не удалось: %3"};

    case Wording::TooManyNumbers:
      return {"Too many phone numbers: %1; the image holds at most %2",
              "Слишком много телефонных номеров: %1; образ вмещает не более %2"};
    case Wording::TooManyEvents:
      return {"Too many events: %1; the image holds at most %2", "Слишком много событий: %1; образ вмещает не более %2"};
    case Wording::PinOutside: return {"Event %1: Pin %2 is outside 0..%3", "Событие %1: Pin %2 вне 0..%3"};
    case Wording::DelayOutside: return {"Event %1: Delay %2 is outside 0..%3", "Событие %1: Delay %2 вне 0..%3"};
    case Wording::PhoneNumberField: return {"Phone %1: Number", "Абонент %1: Number"};
    case Wording::EventTextField: return {"Event %1: Text", "Событие %1: Text"};
    case Wording::TextPastImage:
      return {"%1: the text ends at image offset %2, past the largest image of %3 bytes",
              "%1: текст кончается на смещении %2, за концом наибольшего образа в %3 байт"};
    case Wording::ImageTooLong:
      return {"The image would be %1 bytes long; it can be at most %2",
              "Образ занял бы %1 байт; наибольший возможный размер %2"};

    case Wording::DefectAt: return {"offset %1: %2", "смещение %1: %2"};
    case Wording::ImageTooShort:
      return {"image of %1 bytes is shorter than the smallest possible image of %2 bytes",
              "образ из %1 байт короче наименьшего возможного образа в %2 байт"};
    case Wording::SignatureWrong: return {"signature %1 is not %2", "сигнатура %1 — не %2"};
    case Wording::LengthWrong:
      return {"length word %1 does not match the file size %2", "слово длины %1 не совпадает с размером файла %2"};
    case Wording::PhoneTableOutside:
      return {"phone table offset %1 lies outside the image between the header and the checksum byte (%2 to %3)",
              "смещение таблицы абонентов %1 лежит вне образа между заголовком и байтом контрольной суммы (%2 … %3)"};
    case Wording::PhoneTablePastChecksum:
      return {"phone table of %1 entries ends at %2, past the checksum byte at %3",
              "таблица абонентов из %1 записей кончается на %2, за байтом контрольной суммы на %3"};
    case Wording::EventTableOutside:
      return {"event table offset %1 lies outside the image between the header and the checksum byte (%2 to %3)",
              "смещение таблицы событий %1 лежит вне образа между заголовком и байтом контрольной суммы (%2 … %3)"};
    case Wording::EventTableNotAfterPhones:
      return {"event table offset %1 does not follow the phone table, which ends at %2",
              "смещение таблицы событий %1 не следует за таблицей абонентов, которая кончается на %2"};
    case Wording::EventTablePastChecksum:
      return {"event table of %1 events ends at %2, past the checksum byte at %3",
              "таблица событий из %1 записей кончается на %2, за байтом контрольной суммы на %3"};
    case Wording::BytesOfNoSection:
      return {"%1 bytes between the event table and the checksum byte belong to no section",
              "байты между таблицей событий и байтом контрольной суммы не принадлежат ни одной части образа (%1)"};
    case Wording::PhoneOwner: return {"phone %1", "абонент %1"};
    case Wording::EventOwner: return {"event %1", "событие %1"};
    case Wording::TextOutsideArea:
      return {"%1 refers to offset %2 outside the string area (%3)", "%1 ссылается на смещение %2 вне области строк (%3)"};
    case Wording::StringAreaEmpty: return {"the string area is empty", "область строк пуста"};
    case Wording::StringAreaSpan: return {"the string area is %1 to %2", "область строк — %1 … %2"};
    case Wording::TextUnterminated:
      return {"%1's text at offset %2 has no terminating 0 byte inside the string area",
              "%1: у текста на смещении %2 нет завершающего байта 0 внутри области строк"};
    case Wording::MaskPastSlots:
      return {"%1 recipient mask %2 names slot %3, beyond the %4 phone slots",
              "%1: маска получателей %2 называет абонента %3, а абонентов всего %4"};
    case Wording::MaskPastTable:
      return {"%1 recipient mask %2 names slot %3, but the phone table has %4 entries",
              "%1: маска получателей %2 называет абонента %3, а в таблице абонентов записей: %4"};
    case Wording::EdgeNeither:
      return {"%1 edge byte %2 is neither 0 (rising) nor 1 (falling)",
              "%1: байт перепада %2 — ни 0 (фронт), ни 1 (срез)"};
    case Wording::ChecksumWrong:
      return {"checksum %1 does not match the bytes before it (expected %2)",
              "контрольная сумма %1 не сходится с байтами перед ней (ожидалось %2)"};

    case Wording::InFile: return {"%1: %2", "%1: %2"};
    case Wording::LongerThanImage:
      return {"file is longer than the largest possible image of %1 bytes",
              "файл длиннее наибольшего возможного образа в %1 байт"};
    case Wording::SourceLineDiffers:
      return {"line %1: \"%2\" where an export writes \"%3\"", "строка %1: \"%2\" там, где экспорт пишет \"%3\""};
    case Wording::SourceEndsEarly:
      return {"line %1: the file ends where an export writes \"%2\"",
              "строка %1: файл кончается там, где экспорт пишет \"%2\""};
    case Wording::SourceNotAByte:
      return {"line %1: \"%2\" where an export writes a byte, such as \"\\t0x1F,\"",
              "строка %1: \"%2\" там, где экспорт пишет байт, например \"\\t0x1F,\""};
    case Wording::SourceGoesOn:
      return {"line %1: \"%2\" follows the end of what an export writes",
              "строка %1: \"%2\" идёт после конца того, что пишет экспорт"};
    case Wording::NotExported:
      return {"a project file, not a configuration image or its firmware source",
              "это файл проекта, а не образ конфигурации и не его исходный текст"};
    case Wording::SlotCountNotEight:
      return {"the image has %1 phone slots, and a project has %2",
              "в образе абонентов %1, а в проекте их %2"};
    case Wording::TextNotKept:
      return {"%1: the text begins or ends with a blank or control character or holds a line break, "
              "which a project file does not keep",
              "%1: текст начинается или кончается пробелом или управляющим символом либо содержит перевод "
              "строки, а файл проекта их не сохраняет"};
    case Wording::NotAsExported:
      return {"the image is not laid out as an export lays it out: the restored project would export to "
              "other bytes from offset %1 on",
              "образ устроен не так, как его строит экспорт: восстановленный проект экспортировался бы "
              "в другие байты, начиная со смещения %1"};
    case Wording::NoCommentsInImage:
      return {"the image holds no phone comments: all eight are empty",
              "в образе нет комментариев к абонентам: все восемь пусты"};
    case Wording::TextStoredOnce:
      return {"%1 come back as \"%2\": the image stores texts that differ only in letter case once, "
              "in the first spelling",
              "%1 восстановлены как \"%2\": образ хранит тексты, различающиеся лишь регистром букв, "
              "один раз, в первом написании"};
    case Wording::BothOf: return {"%1, %2", "%1, %2"};

    case Wording::ByteOrderMark:
      return {"the file starts with a UTF-8 byte-order mark, so its first line is not read",
              "файл начинается с метки порядка байтов UTF-8, поэтому его первая строка не читается"};
    case Wording::LinesBeforeSections:
      return {"%1 line(s) before the first section are not read", "строки до первой секции не читаются (%1)"};
    case Wording::SectionRepeated:
      return {"ignored: the section is repeated at line %1, and only the last occurrence is read",
              "не читается: секция повторяется в строке %1, а читается последняя"};
    case Wording::PhoneSectionNeverRead:
      return {"never read: the phone slots are Phone0 to Phone7", "не читается: абоненты — это Phone0 … Phone7"};
    case Wording::EventSectionNeverRead:
      return {"never read: events are read from Event0 up to the first missing or empty section, here %1",
              "не читается: события читаются с Event0 до первой отсутствующей или пустой секции, здесь %1"};
    case Wording::EventSectionSpelt:
      return {"never read: the load looks for %1, without leading zeros", "не читается: загрузка ищет %1, без ведущих нулей"};
    case Wording::NoProjectSection:
      return {"no Phone or Event section: the file loads as a blank project",
              "нет ни одной секции Phone или Event: файл открывается как пустой проект"};
    case Wording::KeyRepeated:
      return {"ignored: the key is repeated at line %1, and only the last value is read",
              "не читается: ключ повторяется в строке %1, а читается последнее значение"};
    case Wording::NumberTooLong:
      return {"the number has %1 characters, more than the %2 the phone dialog allows",
              "в номере %1 символов, больше %2, которые допускает окно абонента"};
    case Wording::NumberCharacters:
      return {"the number holds characters other than digits and one leading \"+\"",
              "в номере есть символы, кроме цифр и одного \"+\" в начале"};
    case Wording::NegNeither:
      return {"Neg %1 is neither 0 (rising) nor 1 (falling); read as falling",
              "Neg %1 — ни 0 (фронт), ни 1 (срез); читается как срез"};
    case Wording::NotAnInteger:
      return {"\"%1\" is not an integer in the 32-bit range; read as 0",
              "\"%1\" — не целое число в 32-битном диапазоне; читается как 0"};
    case Wording::PinNotAnInput: return {"Pin %1 is outside the inputs %2 to %3", "Pin %1 вне входов %2 … %3"};
    case Wording::DelayNotInRange:
      return {"Delay %1 is outside %2 to %3 seconds", "Delay %1 вне %2 … %3 секунд"};
    case Wording::SendNotInRange:
      return {"Send %1 is outside %2 to %3; only its low 8 bits count: %4",
              "Send %1 вне %2 … %3; в счёт идут только младшие 8 бит: %4"};
    case Wording::NoRecipients: return {"the event has no recipients", "у события нет получателей"};
    case Wording::EmptyRecipient:
      return {"sends to phone slot %1, whose number is empty", "отправляет абоненту %1, у которого нет номера"};
    case Wording::TextLooksUtf8:
      return {"the text looks like UTF-8, not Windows-1251", "текст похож на UTF-8, а не на Windows-1251"};
    case Wording::TextControlBytes: return {"the text holds control bytes", "в тексте есть управляющие байты"};
    case Wording::TextTooLong:
      return {"the text has %1 characters, more than the %2 the event dialog allows",
              "в тексте %1 символов, больше %2, которые допускает окно сообщения"};
    case Wording::EventsPastImage:
      return {"the image holds at most %1 events; export refuses a project of %2",
              "образ вмещает не более %1 сообщений; экспорт откажет проекту из %2"};
    case Wording::FindingsNotListed:
      return {"%1 more findings are not listed", "ещё замечаний, не показанных здесь: %1"};
  }
  return {"%1", "%1"};
}

}  // namespace

Message::Message(std::string verbatim) : Text(std::move(verbatim)) {}

Message::Message(const char* verbatim) : Text(verbatim) {}

Message::Message(Wording wording, std::vector<Message> arguments)
    : Words(wording), Arguments(std::move(arguments)) {}

std::string Message::Render(Language language, Charset charset) const {
  if (Words == Wording::Verbatim) return Text;
  const Texts texts = TextsOf(Words);
  const std::string words = language == Language::English ? texts.English
                            : charset == Charset::Cp1251  ? Cp1251(texts.Russian)
                                                          : texts.Russian;
  std::string rendered;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::size_t argument = i + 1 < words.size() && words[i] == '%' ? std::size_t(words[i + 1] - '1') : 9;
    if (argument < Arguments.size()) {
      rendered += Arguments[argument].Render(language, charset);
      ++i;
    } else {
      rendered += words[i];
    }
  }
  return rendered;
}

MessageError::MessageError(Message message)
    : std::runtime_error(message.Render(Language::English)),
      Content(std::make_shared<const Message>(std::move(message))) {}

Message SaidBy(const std::exception& error) {
  const auto* said = dynamic_cast<const MessageError*>(&error);
  return said != nullptr ? said->Said() : Message(error.what());
}

}  // namespace smsconf::text
