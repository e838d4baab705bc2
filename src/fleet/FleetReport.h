#pragma once

// What a run of a plan did, unit by unit: as a table for people and as JSON
// for scripts and provisioning tools. Both in UTF-8, one row per row of the
// plan, in its order.

#include <string>
#include <vector>

#include "fleet/FleetRun.h"
#include "fleet/Plan.h"

namespace smsconf::fleet {

// The result as the table says it: "loaded", "written but not confirmed",
// "failed at upload", "failed at upload (deadline)", "aborted at boot",
// "not started".
std::string ResultText(const UnitOutcome& outcome);

// Columns name, gateway, unit, before, after, result, time; a header line,
// then one line per unit, each ending in a newline. Texts from the plan and
// the units are shown with their control bytes escaped.
std::string SummaryTable(const Plan& plan, const std::vector<UnitOutcome>& outcomes);

// {"units": [{"name", "gateway", "unit", "image", "identifier_before",
// "identifier_after", "result", "step", "ms"}, ...]}; a name, identifier or
// step that is not there is null.
std::string JsonReport(const Plan& plan, const std::vector<UnitOutcome>& outcomes);

}  // namespace smsconf::fleet
