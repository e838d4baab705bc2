#include "fleet/FleetReport.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "text/Cp1251.h"

namespace smsconf::fleet {

namespace {

constexpr std::size_t ColumnCount = 7;
using TableRow = std::array<std::string, ColumnCount>;
constexpr std::size_t ColumnGap = 2;
constexpr const char* Missing = "-";
constexpr unsigned char Utf8Continuation = 0x80;
constexpr unsigned char Utf8ContinuationMask = 0xC0;
constexpr unsigned char FirstPrintable = 0x20;
constexpr int MillisecondsPerSecond = 1000;

// Characters on the screen: UTF-8 continuation bytes take no column.
std::size_t Width(const std::string& utf8) {
  return static_cast<std::size_t>(std::ranges::count_if(utf8, [](char c) {
    return (static_cast<unsigned char>(c) & Utf8ContinuationMask) != Utf8Continuation;
  }));
}

std::string Shown(const std::string& cp1251) { return cp1251.empty() ? Missing : text::Cp1251ToTerminal(cp1251); }

std::string Seconds(std::chrono::milliseconds time) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(time.count()) / MillisecondsPerSecond);
  return text;
}

std::string JsonString(const std::string& utf8) {
  std::string quoted = "\"";
  for (const char c : utf8) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < FirstPrintable) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string JsonText(const std::string& cp1251) {
  return cp1251.empty() ? "null" : JsonString(text::Cp1251ToUtf8(cp1251));
}

}  // namespace

std::string ResultText(const UnitOutcome& outcome) {
  const std::string at = " at " + (outcome.Step.empty() ? std::string("connect") : outcome.Step);
  switch (outcome.Result) {
    case UnitResult::NotStarted: return "not started";
    case UnitResult::Loaded: return "loaded";
    case UnitResult::Unconfirmed: return "written but not confirmed";
    case UnitResult::Failed: return "failed" + at + (outcome.PastDeadline ? " (deadline)" : "");
    case UnitResult::Aborted: return "aborted" + at;
  }
  return {};
}

std::string SummaryTable(const Plan& plan, const std::vector<UnitOutcome>& outcomes) {
  std::vector<TableRow> rows = {{"name", "gateway", "unit", "before", "after", "result", "time"}};
  for (std::size_t i = 0; i < plan.Rows.size() && i < outcomes.size(); ++i) {
    const PlanRow& row = plan.Rows[i];
    const UnitOutcome& outcome = outcomes[i];
    rows.push_back({Shown(row.Name), text::Cp1251ToTerminal(row.Gateway), std::to_string(row.Unit),
                    Shown(outcome.IdentifierBefore), Shown(outcome.IdentifierAfter), ResultText(outcome),
                    outcome.Result == UnitResult::NotStarted ? Missing : Seconds(outcome.Time)});
  }
  std::array<std::size_t, ColumnCount> widths{};
  for (const TableRow& row : rows)
    for (std::size_t c = 0; c < ColumnCount; ++c) widths[c] = std::max(widths[c], Width(row[c]));
  std::string table;
  for (const TableRow& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < ColumnCount; ++c) {
      line += row[c];
      if (c + 1 < ColumnCount) line += std::string(widths[c] - Width(row[c]) + ColumnGap, ' ');
    }
    table += line + "\n";
  }
  return table;
}

std::string JsonReport(const Plan& plan, const std::vector<UnitOutcome>& outcomes) {
  std::string json = "{\n  \"units\": [";
  for (std::size_t i = 0; i < plan.Rows.size() && i < outcomes.size(); ++i) {
    const PlanRow& row = plan.Rows[i];
    const UnitOutcome& outcome = outcomes[i];
    json += i == 0 ? "\n" : ",\n";
    json += "    {\"name\": " + JsonText(row.Name) + ", \"gateway\": " + JsonText(row.Gateway) +
            ", \"unit\": " + std::to_string(row.Unit) + ", \"image\": " + JsonText(row.Image) +
            ", \"identifier_before\": " + JsonText(outcome.IdentifierBefore) +
            ", \"identifier_after\": " + JsonText(outcome.IdentifierAfter) + ", \"result\": \"" +
            ResultWord(outcome.Result) + "\", \"step\": " + JsonText(outcome.Step) +
            ", \"ms\": " + std::to_string(outcome.Time.count()) + "}";
  }
  return json + "\n  ]\n}\n";
}

}  // namespace smsconf::fleet
