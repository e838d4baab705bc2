#pragma once

// A site's plan: which image goes to which unit behind which gateway, as
// engineers keep it in a spreadsheet and save it as CSV. A header row names
// the columns in any order (gateway, unit, image and, optionally, name);
// then one row per unit. Lines starting with # and blank lines are skipped;
// fields may be quoted with doubled quotes inside; the separator is , or ;
// (what spreadsheets in Russian locales write); the file may be
// Windows-1251, UTF-8 or UTF-8 with a byte-order mark.
//
// The plan is checked whole before anything is sent: every problem is one
// line number and a reason, and any problem refuses the whole plan.

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "loading/LoadingSetup.h"

namespace smsconf::fleet {

struct PlanRow {
  int Line = 0;             // of the file, counted from 1: where the row starts
  std::string Name;         // Windows-1251; may be empty
  std::string Gateway;      // as written: a.b.c.d or a.b.c.d:port
  std::string GatewayKey;   // the canonical a.b.c.d:port, one for each gateway
  int Unit = 0;
  std::string Image;        // Windows-1251, as written
  std::string ImagePath;    // the file to read, relative paths taken from the plan's folder

  // The name, else gateway/unit: how the unit is called in every output.
  std::string Label() const;
};

struct PlanProblem {
  int Line = 0;        // 0: the plan as a whole (it cannot be read)
  std::string Reason;  // English; names from the plan in UTF-8
};

struct Plan {
  std::vector<PlanRow> Rows;
  std::vector<PlanProblem> Problems;  // in the order of the lines
  // Every image named, read and checked once, by ImagePath.
  std::map<std::string, LoadingImage> Images;
};

// Reads the rows of a plan's bytes, paths relative to `folder`, with the
// problems of its form and of each field (address, unit) on its own.
Plan ParsePlan(std::string_view bytes, const std::string& folder);

// What the check does with the images: a probe sends none.
enum class ImageCheck { Strict, AcceptDamaged, Skip };

// Checks every row: the same unit of one gateway twice (named at the
// second row, with the first) and its image, read and checked as `load`
// does; a damaged image is a problem unless accepted. Problems end sorted
// by line.
void CheckPlan(Plan& plan, ImageCheck images);

// Reads and checks the plan file.
Plan ReadPlan(const std::string& path, ImageCheck images);

}  // namespace smsconf::fleet
