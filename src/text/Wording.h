#pragma once

// The program's own wordings, each in English and in Russian, in one table.
// The command line speaks English and the window Russian. A message keeps
// which wording it is and its arguments, so that each side renders it in its
// own language. The fixed beginnings of the file errors ("Cannot open file",
// "Cannot create file", "Cannot write file") read the same in both.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace smsconf::text {

enum class Language { English, Russian };

// The encoding of a rendering's own words. The arguments go in as they are,
// so it is chosen to match theirs: UTF-8 with paths (the core's paths are
// UTF-8 on Windows, and Qt reads POSIX paths as UTF-8), Windows-1251 with
// what a project file says.
enum class Charset { Utf8, Cp1251 };

// Every wording, by what it says; Wording.cpp holds the texts, with %1, %2,
// ... for the arguments.
enum class Wording {
  Verbatim,  // a text put in as it is: a path, a number, a value from a file
  // The file errors; the reason is the last argument.
  CannotOpen,
  CannotCreate,
  CannotWrite,
  // Reasons a file could not be read or written.
  NoSuchFile,
  NoSuchFolder,
  FolderOnTheWay,
  PermissionDenied,
  IsFolder,
  DiskFull,
  QuotaExceeded,
  FileTooLarge,
  ReadOnlyFileSystem,
  TooManyLinks,
  NameTooLong,
  SystemError,
  NoFileName,
  ProjectTooLarge,
  LinkToNothing,
  LinkNotFollowed,
  NotRegularFile,
  LargerThanAnyExport,
  IsTheProjectFile,
  IsAlsoTheImage,
  Interrupted,
  ExportUnderWay,
  OldImageLost,
  // What the image cannot hold.
  TooManyNumbers,
  TooManyEvents,
  PinOutside,
  DelayOutside,
  PhoneNumberField,
  EventTextField,
  TextPastImage,
  ImageTooLong,
  // Why an image is damaged: the offset of the first defect, then the defect.
  DefectAt,
  ImageTooShort,
  SignatureWrong,
  LengthWrong,
  PhoneTableOutside,
  PhoneTablePastChecksum,
  EventTableOutside,
  EventTableNotAfterPhones,
  EventTablePastChecksum,
  BytesOfNoSection,
  PhoneOwner,
  EventOwner,
  TextOutsideArea,
  StringAreaEmpty,
  StringAreaSpan,
  TextUnterminated,
  MaskPastSlots,
  MaskPastTable,
  EdgeNeither,
  ChecksumWrong,
  // Reading back what an export wrote, and a project restored from it.
  InFile,
  LongerThanImage,
  SourceLineDiffers,
  SourceEndsEarly,
  SourceNotAByte,
  SourceGoesOn,
  NotExported,
  SlotCountNotEight,
  TextNotKept,
  NotAsExported,
  NoCommentsInImage,
  TextStoredOnce,
  BothOf,
  // The project check's findings.
  ByteOrderMark,
  LinesBeforeSections,
  SectionRepeated,
  PhoneSectionNeverRead,
  EventSectionNeverRead,
  EventSectionSpelt,
  NoProjectSection,
  KeyRepeated,
  NumberTooLong,
  NumberCharacters,
  NegNeither,
  NotAnInteger,
  PinNotAnInput,
  DelayNotInRange,
  SendNotInRange,
  NoRecipients,
  EmptyRecipient,
  TextLooksUtf8,
  TextControlBytes,
  TextTooLong,
  EventsPastImage,
  FindingsNotListed,  // the last: WordingCount counts up to it
};
inline constexpr int WordingCount = static_cast<int>(Wording::FindingsNotListed) + 1;

// A message of ours: a wording and its arguments, each a text put in as it
// is or a message of its own (a reason inside a file error).
class Message {
 public:
  Message(std::string verbatim);  // NOLINT: an argument is most often a plain text
  Message(const char* verbatim);  // NOLINT
  Message(Wording wording, std::vector<Message> arguments = {});

  std::string Render(Language language, Charset charset = Charset::Utf8) const;

 private:
  Wording Words = Wording::Verbatim;
  std::string Text;  // the verbatim text
  std::vector<Message> Arguments;
};

// An error whose what() is its message in English, as the command line
// shows it; the window renders the message in Russian.
class MessageError : public std::runtime_error {
 public:
  explicit MessageError(Message message);
  const Message& Said() const { return *Content; }

 private:
  std::shared_ptr<const Message> Content;  // shared: an exception is copied without throwing
};

// What an error says: its message, or its what() as it is.
Message SaidBy(const std::exception& error);

}  // namespace smsconf::text
