#pragma once

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <new>
#include <string>

#include "limits/Limits.h"

namespace smsconf::cli {

// Exit statuses shared by every command.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;
inline constexpr int ExitSignalBase = 128;  // + the signal that stopped a command

// Said when a loading is stopped before its end.
inline constexpr const char* InterruptedLoadingWarning =
    "Загрузка прервана: АУ может остаться в режиме \"ЗАГРУЗКА КОНФИГУРАЦИИ\" до следующей полной загрузки";

// Runs a command's work on the file `path` (empty: on several files). An
// error is said on standard error by its message, which holds paths as given
// and no texts from the files; out of memory as "PATH: out of memory", said
// in pieces, since a message put together would need memory too. Either
// gives `failure`.
template <typename Work>
int Guarded(const std::string& path, int failure, Work&& work) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    if (!path.empty()) std::cerr << path << ": ";
    std::cerr << "out of memory" << std::endl;
  } catch (const std::exception& e) {
    std::cerr << e.what() << std::endl;
  }
  return failure;
}

// The commands of smsconf-cli, each in its own Cmd*.cpp. A setup adds the
// subcommand and its options to the application and returns the function
// that runs it once the command line has been parsed; that function returns
// the exit status. Main.cpp lists them in the order of the help.
using CommandSetup = std::function<int()> (*)(CLI::App& app);

std::function<int()> SetupCheck(CLI::App& app);
std::function<int()> SetupExport(CLI::App& app);
std::function<int()> SetupDump(CLI::App& app);
std::function<int()> SetupLoad(CLI::App& app);
std::function<int()> SetupProbe(CLI::App& app);
std::function<int()> SetupSimulate(CLI::App& app);
std::function<int()> SetupFleet(CLI::App& app);
std::function<int()> SetupImport(CLI::App& app);
std::function<int()> SetupDiff(CLI::App& app);

// Checks for numeric option values, placed before any range check, so that a
// value that is no number is called that rather than "out of range" or
// "could not convert".
inline CLI::Validator WholeNumber(bool negativeAllowed) {
  return CLI::Validator(
      [negativeAllowed](std::string& value) -> std::string {
        const std::size_t digits = value.find_first_not_of("+-") == 1 ? 1 : 0;
        if (value.size() == digits || value.find_first_not_of("0123456789", digits) != std::string::npos) {
          return value + " is not a number";
        }
        if (!negativeAllowed && value[0] == '-') return value + " is negative";
        return {};
      },
      "");
}

inline CLI::Validator RealNumber() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        char* end = nullptr;
        const double parsed = std::strtod(value.c_str(), &end);
        // strtod also takes "nan" and "inf", which are no amounts.
        if (value.empty() || *end != '\0' || !std::isfinite(parsed)) return value + " is not a number";
        return {};
      },
      "");
}

// A positive number, as a deadline in seconds is; after RealNumber.
inline CLI::Validator PositiveNumber() {
  return CLI::Validator(
      [](std::string& value) -> std::string {
        return std::strtod(value.c_str(), nullptr) > 0 ? std::string() : value + " is not positive";
      },
      "");
}

// The longest deadline taken: as good as none, and the clock's sums stay in range.
inline constexpr double LongestDeadlineSeconds = 1e7;

// --deadline SECONDS, kept as typed (empty: none).
inline CLI::Option* AddDeadlineOption(CLI::App* command, std::string& seconds, const std::string& description) {
  return command->add_option("--deadline", seconds, description)
      ->type_name("SECONDS")
      ->check(RealNumber())
      ->check(PositiveNumber());
}

// --tries and --timeout of every command that speaks to a gateway.
inline void AddLinkOptions(CLI::App* command, int& tries, int& timeoutMs) {
  command->add_option("--tries", tries, "Sends per request")
      ->check(WholeNumber(true))
      ->check(CLI::Range(limits::Tries.Min, limits::Tries.Max))
      ->capture_default_str();
  command->add_option("--timeout", timeoutMs, "Wait for each reply, in milliseconds")
      ->check(WholeNumber(true))
      ->check(CLI::Range(limits::TimeoutMs.Min, limits::TimeoutMs.Max))
      ->capture_default_str();
}

// Colour on a terminal, unless --no-color or a NO_COLOR that is set and not
// empty turns it off, as the common convention has it.
inline bool ColourWanted(bool terminal, bool noColorOption) {
  const char* noColor = std::getenv("NO_COLOR");
  return terminal && !noColorOption && (noColor == nullptr || *noColor == '\0');
}

}  // namespace smsconf::cli
