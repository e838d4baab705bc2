// smsconf-cli diff A B: compares two configurations, each a project file,
// an image or a firmware source, as the unit would see them.

#include "cli/Command.h"
#include "image/ImageEncoder.h"
#include "image/ImageFormat.h"
#include "model/Project.h"
#include "model/ProjectImport.h"
#include "text/Cp1251.h"

#include <algorithm>
#include <iostream>
#include <new>
#include <stdexcept>
#include <vector>

namespace smsconf::cli {

namespace {

// As diff(1) has it.
constexpr int ExitDifferent = 1;
constexpr int ExitTrouble = 2;

constexpr const char* Arrow = " → ";
constexpr const char* Absent = "(none)";

struct Side {
  bool IsProject = false;
  ImageContent Content;
  std::vector<std::string> Comments;  // a project's, in slot order
};

Side ReadSide(const std::string& path) {
  const ConfigurationFile file = ReadConfigurationFile(path);
  Side side;
  side.IsProject = file.Kind == ConfigurationKind::Project;
  if (!side.IsProject) {
    side.Content = file.Exported.Image.Content;
    return side;
  }
  CProject project;
  project.Load(file.Project);
  side.Content = project.Content();
  for (std::int32_t i = 0; i < project.Phones->Count(); ++i) side.Comments.push_back(project.Phones->Get(i)->Comment);
  return side;
}

std::string Number(const std::string& number) { return number.empty() ? "(empty)" : text::Cp1251ToTerminal(number); }
std::string Quoted(const std::string& text) {
  return text.empty() ? "(empty)" : "\"" + text::Cp1251ToTerminal(text) + "\"";
}

std::string Recipients(std::uint8_t send) {
  std::string slots;
  for (int slot = 0; slot < imageformat::PhoneSlots; ++slot) {
    if ((send >> slot & 1) != 0) slots += (slots.empty() ? "" : ",") + std::to_string(slot);
  }
  return slots.empty() ? "none" : slots;
}

struct Field {
  const char* Name;
  std::string (*Value)(const ImageEvent&);
};
const Field EventFields[] = {
    {"input", [](const ImageEvent& e) { return "DI" + std::to_string(e.Pin); }},
    {"edge", [](const ImageEvent& e) { return std::string(e.Neg ? "falling" : "rising"); }},
    {"delay", [](const ImageEvent& e) { return std::to_string(e.Delay); }},
    {"recipients", [](const ImageEvent& e) { return Recipients(e.Send); }},
    {"text", [](const ImageEvent& e) { return Quoted(e.Text); }},
};

// "input DI12, edge rising, delay 60, recipients 2, text "..."".
std::string WholeEvent(const ImageEvent& event) {
  std::string said;
  for (const Field& field : EventFields) said += (said.empty() ? "" : ", ") + std::string(field.Name) + " " + field.Value(event);
  return said;
}

template <class T>
const T* At(const std::vector<T>& items, std::size_t i) {
  return i < items.size() ? &items[i] : nullptr;
}

void ComparePhones(const Side& a, const Side& b, std::vector<std::string>& lines) {
  const bool comments = a.IsProject && b.IsProject;
  for (std::size_t i = 0; i < std::max(a.Content.Numbers.size(), b.Content.Numbers.size()); ++i) {
    const std::string *left = At(a.Content.Numbers, i), *right = At(b.Content.Numbers, i);
    const std::string name = "phone " + std::to_string(i);
    if (left == nullptr || right == nullptr || *left != *right) {
      lines.push_back(name + ": " + (left ? Number(*left) : Absent) + Arrow + (right ? Number(*right) : Absent));
    }
    if (comments && a.Comments[i] != b.Comments[i]) {
      lines.push_back(name + " comment: " + Quoted(a.Comments[i]) + Arrow + Quoted(b.Comments[i]));
    }
  }
}

void CompareEvents(const Side& a, const Side& b, std::vector<std::string>& lines) {
  for (std::size_t i = 0; i < std::max(a.Content.Events.size(), b.Content.Events.size()); ++i) {
    const ImageEvent *left = At(a.Content.Events, i), *right = At(b.Content.Events, i);
    const std::string name = "event " + std::to_string(i) + ": ";
    if (left == nullptr || right == nullptr) {
      lines.push_back(name + (left ? WholeEvent(*left) : Absent) + Arrow + (right ? WholeEvent(*right) : Absent));
      continue;
    }
    for (const Field& field : EventFields) {
      const std::string before = field.Value(*left), after = field.Value(*right);
      if (before != after) lines.push_back(name + field.Name + " " + before + Arrow + after);
    }
  }
}

int RunDiff(const std::string& pathA, const std::string& pathB) {
  return Guarded("", ExitTrouble, [&] {
    Side a = ReadSide(pathA), b = ReadSide(pathB);
    // An image keeps a text equal to an earlier one but for letter case in
    // the earlier spelling: a project is compared with an image as its own
    // image would hold it.
    if (a.IsProject != b.IsProject) {
      Side& project = a.IsProject ? a : b;
      project.Content = StoredContent(std::move(project.Content));
    }
    std::vector<std::string> lines;
    ComparePhones(a, b, lines);
    CompareEvents(a, b, lines);
    for (const std::string& line : lines) std::cout << line << '\n';
    // Differences that could not all be told are trouble, not a difference.
    if (!std::cout.flush()) return ExitTrouble;
    return lines.empty() ? ExitOk : ExitDifferent;
  });
}

}  // namespace

std::function<int()> SetupDiff(CLI::App& app) {
  auto paths = std::make_shared<std::pair<std::string, std::string>>();
  CLI::App* sub = app.add_subcommand(
      "diff", "Compare two configurations, each a project file, an image or a firmware source");
  sub->add_option("A", paths->first, "The first: project, image or source, told apart by content")->required();
  sub->add_option("B", paths->second, "The second, compared with the first")->required();
  return [paths] { return RunDiff(paths->first, paths->second); };
}

}  // namespace smsconf::cli
