// Event rules as the user gives them (the command line's --rule, --rules and
// --fail-on, the library's FileOptions): rule texts 'INDICATOR OP VALUE [for
// DURATION] [: SEVERITY]', TOML rules files, lists of kinds made fatal, and
// the selection of indicators by key.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/events.h"

namespace nrvq {

// A duration: a number with s, ms or f (frames), such as 2s, 500ms or 12f;
// throws std::invalid_argument for anything else.
MinimumDuration parseDuration(std::string_view text);

// One rule; throws std::invalid_argument with a message naming what is
// wrong. OP is < <= > >=, DURATION a number with s, ms or f (frames),
// SEVERITY info, warning (the default) or fatal.
EventRule parseRule(const std::string& text);

// The rules of a TOML file: [[rule]] tables (indicator, op, value, and
// optionally for and severity), a rules array of rule texts, and an
// optional fail_on array. Throws std::invalid_argument naming the file and
// the line of the fault.
struct RulesFile {
    std::vector<EventRule> rules;
    std::vector<std::string> failOn;
};
RulesFile readRulesFile(const std::string& path);

// What a --fail-on list makes fatal: indicator keys separated by commas,
// "any" (every indicator), or the severities "warning" and "info" (every
// rule of that severity).
struct FailOn {
    std::vector<Column> columns;
    std::vector<Severity> severities;
};
FailOn parseFailOn(const std::string& text);

// The run's rules: the defaults with the file's rules and then the command
// line's on top, and the --fail-on kinds (those of the file too) fatal.
// Throws std::invalid_argument with a message for the command line.
// Rules of indicators outside columns: the defaults are left out, the
// user's are an error.
std::vector<EventRule> runRules(const std::vector<std::string>& rules, const std::string& rulesFile,
                                const std::string& failOn, ColumnSet columns = ColumnSet(kAllColumns));

// The indicators of --only and --skip (either may be empty): every one, or
// those of only, less those of skip. Throws std::invalid_argument naming an
// unknown key or an empty selection.
ColumnSet selectedColumns(const std::string& only, const std::string& skip);

// The default rules as lines for --help: each rule, its severity and what it
// means.
std::string defaultRulesHelp();

}  // namespace nrvq
