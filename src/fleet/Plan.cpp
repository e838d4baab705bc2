#include "fleet/Plan.h"

#include <algorithm>
#include <array>
#include <optional>

#include "files/FileBytes.h"
#include "files/FileSystem.h"
#include "image/ImageFormat.h"
#include "limits/Limits.h"
#include "link/Parseip.h"
#include "text/Cp1251.h"

namespace smsconf::fleet {

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
// A plan lists units, one a line: anything larger is no plan.
constexpr std::size_t LargestPlan = 4u << 20;

enum Column { GatewayColumn, UnitColumn, ImageColumn, NameColumn, ColumnCount };
constexpr std::array<const char*, ColumnCount> ColumnNames = {"gateway", "unit", "image", "name"};
constexpr int RequiredColumns = NameColumn;  // all before it

struct Record {
  int Line = 0;
  std::vector<std::string> Fields;
};

int LineAt(std::string_view text, std::size_t offset) {
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

std::string Quoted(std::string_view cp1251) { return "\"" + text::Cp1251ToUtf8(cp1251) + "\""; }

// The plan's text as Windows-1251. UTF-8 is taken when the file is valid
// UTF-8 or starts with the byte-order mark; anything else already is
// Windows-1251, whose Cyrillic letters never read as valid UTF-8.
std::string Decode(std::string_view bytes, std::vector<PlanProblem>& problems) {
  const bool marked = bytes.starts_with(ByteOrderMark);
  if (marked) bytes.remove_prefix(ByteOrderMark.size());
  text::EncodeResult encoded = text::Utf8ToCp1251(bytes);
  const bool malformed = std::ranges::any_of(encoded.Errors, [](const text::EncodeError& e) { return e.MalformedUtf8; });
  if (!marked && malformed) return std::string(bytes);
  for (const text::EncodeError& error : encoded.Errors)
    problems.push_back({LineAt(bytes, error.Offset), text::Describe(error)});
  return std::move(encoded.Bytes);
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trimmed(std::string_view field) {
  while (!field.empty() && IsBlank(field.front())) field.remove_prefix(1);
  while (!field.empty() && IsBlank(field.back())) field.remove_suffix(1);
  return field;
}

// Reads the CSV records of `text`; comment and blank lines are skipped
// where a record would start.
class RecordReader {
 public:
  RecordReader(std::string_view text, std::vector<PlanProblem>& problems) : Text(text), Problems(problems) {}

  std::optional<Record> Next() {
    SkipCommentsAndBlanks();
    if (Pos >= Text.size()) return std::nullopt;
    if (Separator == 0) Separator = SeparatorOf(Text.substr(Pos, Text.find('\n', Pos) - Pos));
    Record record{Line, {}};
    for (;;) {
      record.Fields.push_back(ReadField(record.Line));
      if (Pos >= Text.size()) break;
      if (Text[Pos++] == '\n') {
        ++Line;
        break;
      }
    }
    return record;
  }

 private:
  // The header says which: the one of the two it holds more of.
  static char SeparatorOf(std::string_view header) {
    return std::ranges::count(header, ';') > std::ranges::count(header, ',') ? ';' : ',';
  }

  void SkipCommentsAndBlanks() {
    while (Pos < Text.size()) {
      const std::size_t end = std::min(Text.find('\n', Pos), Text.size());
      const std::string_view line = Trimmed(Text.substr(Pos, end - Pos));
      if (!line.empty() && line.front() != '#') return;
      Pos = end + 1;
      ++Line;
    }
  }

  // Leaves Pos on the separator or newline that ends the field, or at the end.
  std::string ReadField(int recordLine) {
    while (Pos < Text.size() && (Text[Pos] == ' ' || Text[Pos] == '\t')) ++Pos;
    std::string field;
    if (Pos < Text.size() && Text[Pos] == '"') {
      for (++Pos;; ++Pos) {
        if (Pos >= Text.size()) {
          Problems.push_back({recordLine, "a quoted field is not closed"});
          return field;
        }
        if (Text[Pos] == '"') {
          if (Pos + 1 >= Text.size() || Text[Pos + 1] != '"') break;
          ++Pos;
        } else if (Text[Pos] == '\n') {
          ++Line;
        }
        field += Text[Pos];
      }
      ++Pos;  // the closing quote; what follows up to the separator is kept as it stands
    }
    const std::size_t end = std::min(Text.find_first_of(std::string{Separator, '\n'}, Pos), Text.size());
    field += Trimmed(Text.substr(Pos, end - Pos));
    Pos = end;
    return field;
  }

  std::string_view Text;
  std::vector<PlanProblem>& Problems;
  std::size_t Pos = 0;
  int Line = 1;
  char Separator = 0;
};

// Where each column stands in a row; -1 for one the header lacks.
using ColumnIndex = std::array<int, ColumnCount>;

ColumnIndex ReadHeader(const Record& header, std::vector<PlanProblem>& problems) {
  ColumnIndex index;
  index.fill(-1);
  for (std::size_t i = 0; i < header.Fields.size(); ++i) {
    const std::string name = text::Folded(header.Fields[i]);
    const auto known = std::ranges::find(ColumnNames, name);
    if (known == ColumnNames.end()) continue;  // a spreadsheet's own columns (notes, owner) are no concern
    int& at = index[static_cast<std::size_t>(known - ColumnNames.begin())];
    if (at != -1) problems.push_back({header.Line, "column \"" + name + "\" is named twice"});
    at = static_cast<int>(i);
  }
  for (int column = 0; column < RequiredColumns; ++column) {
    if (index[column] == -1)
      problems.push_back({header.Line, std::string("no \"") + ColumnNames[column] + "\" column in the header"});
  }
  return index;
}

std::optional<int> UnitNumber(const std::string& field) {
  if (field.empty() || field.size() > 3 || field.find_first_not_of("0123456789") != std::string::npos) return {};
  const int unit = std::stoi(field);
  if (!limits::Unit.Holds(unit)) return {};
  return unit;
}

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) || (path.size() >= 2 && path[1] == ':');
}

void ReadRow(const Record& record, const ColumnIndex& index, std::size_t width, const std::string& folder,
             Plan& plan) {
  const auto field = [&](Column column) {
    const int at = index[column];
    return at >= 0 && static_cast<std::size_t>(at) < record.Fields.size() ? record.Fields[static_cast<std::size_t>(at)]
                                                                           : std::string();
  };
  PlanRow row;
  row.Line = record.Line;
  row.Name = field(NameColumn);
  row.Gateway = field(GatewayColumn);
  row.Image = field(ImageColumn);
  const std::string unit = field(UnitColumn);
  std::vector<PlanProblem>& problems = plan.Problems;
  CParseIP address;
  if (address.Parse(row.Gateway, RpcDefaultPort)) {
    row.GatewayKey = address.Address + ":" + std::to_string(address.Port);
  } else {
    problems.push_back({row.Line, "gateway " + Quoted(row.Gateway) + " is not a.b.c.d or a.b.c.d:port"});
  }
  if (const std::optional<int> number = UnitNumber(unit)) {
    row.Unit = *number;
  } else {
    problems.push_back({row.Line, "unit " + Quoted(unit) + " is not a number from " + std::to_string(limits::Unit.Min) +
                                      " to " + std::to_string(limits::Unit.Max)});
  }
  if (row.Image.empty()) {
    problems.push_back({row.Line, "no image"});
  } else {
    const std::string path = text::Cp1251ToUtf8(row.Image);
    row.ImagePath = IsAbsolute(path) || folder.empty() ? path : folder + "/" + path;
  }
  // Empty fields past the header's are what spreadsheets write for a
  // column that was used once; anything in them is a row out of place.
  if (std::any_of(record.Fields.begin() + static_cast<std::ptrdiff_t>(std::min(width, record.Fields.size())),
                  record.Fields.end(), [](const std::string& extra) { return !extra.empty(); }))
    problems.push_back({row.Line, "more fields than the header names"});
  plan.Rows.push_back(std::move(row));
}

std::string ImageProblem(const PlanRow& row, const LoadingVerdict& verdict) {
  const std::string image = "image " + Quoted(row.Image);
  switch (verdict.Outcome) {
    case LoadingVerdict::Unreadable: return image + ": cannot read it: " + FileErrorReason(verdict.Error);
    case LoadingVerdict::TooLarge:
      return image + " is larger than the unit's " + std::to_string(imageformat::UnitCapacity) + " bytes";
    case LoadingVerdict::Damaged: return image + " is damaged: " + verdict.Defect + "; --force sends it anyway";
    case LoadingVerdict::Ready:
    case LoadingVerdict::BadAddress: break;
  }
  return {};
}

}  // namespace

std::string PlanRow::Label() const {
  return Name.empty() ? Gateway + "/" + std::to_string(Unit) : Name;
}

Plan ParsePlan(std::string_view bytes, const std::string& folder) {
  Plan plan;
  const std::string text = Decode(bytes, plan.Problems);
  RecordReader reader(text, plan.Problems);
  const std::optional<Record> header = reader.Next();
  if (!header) {
    plan.Problems.push_back({1, "no header row (gateway, unit, image, name)"});
    return plan;
  }
  const std::size_t problems = plan.Problems.size();
  const ColumnIndex index = ReadHeader(*header, plan.Problems);
  // Without its columns every row would only repeat the header's problem.
  if (plan.Problems.size() > problems) return plan;
  while (const std::optional<Record> record = reader.Next()) ReadRow(*record, index, header->Fields.size(), folder, plan);
  if (plan.Rows.empty()) plan.Problems.push_back({header->Line, "the plan names no unit"});
  return plan;
}

void CheckPlan(Plan& plan, ImageCheck images) {
  std::map<std::pair<std::string, int>, int> seen;  // gateway and unit: the line of their first row
  for (const PlanRow& row : plan.Rows) {
    if (!row.GatewayKey.empty() && row.Unit != 0) {
      const auto [first, fresh] = seen.try_emplace({row.GatewayKey, row.Unit}, row.Line);
      if (!fresh) {
        plan.Problems.push_back({row.Line, "unit " + std::to_string(row.Unit) + " of gateway " + row.GatewayKey +
                                               " is already on line " + std::to_string(first->second)});
      }
    }
    if (row.ImagePath.empty() || images == ImageCheck::Skip) continue;
    auto image = plan.Images.find(row.ImagePath);
    if (image == plan.Images.end()) {
      const LoadingImage read = ReadLoadingImage(row.ImagePath, images == ImageCheck::AcceptDamaged);
      image = plan.Images.emplace(row.ImagePath, read).first;
    }
    if (const std::string problem = ImageProblem(row, image->second.Verdict); !problem.empty())
      plan.Problems.push_back({row.Line, problem});
  }
  std::ranges::stable_sort(plan.Problems, {}, &PlanProblem::Line);
}

Plan ReadPlan(const std::string& path, ImageCheck images) {
  std::string bytes;
  int error = 0;
  if (ReadFileBytes(path, bytes, LargestPlan + 1, &error) != FileRead::Read) {
    Plan plan;
    plan.Problems.push_back({0, "cannot read the plan: " + FileErrorReason(error)});
    return plan;
  }
  if (bytes.size() > LargestPlan) {
    Plan plan;
    plan.Problems.push_back({0, "larger than any plan (" + std::to_string(LargestPlan) + " bytes)"});
    return plan;
  }
  Plan plan = ParsePlan(bytes, FolderOf(path));
  CheckPlan(plan, images);
  return plan;
}

}  // namespace smsconf::fleet
