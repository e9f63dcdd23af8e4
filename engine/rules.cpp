#include "engine/rules.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include <toml++/toml.h>

namespace nrvq {

namespace {

std::string keyList() {
    std::string keys;
    for (const IndicatorInfo& info : kIndicators) {
        keys += (keys.empty() ? "" : ", ") + std::string(info.key);
    }
    return keys;
}

Column indicatorOf(const std::string& key) {
    const auto column = columnOf(key);
    if (!column) {
        throw std::invalid_argument("unknown indicator \"" + key + "\" (expected one of " + keyList() + ")");
    }
    return *column;
}

// A whole finite number at the start of text; advances past it.
bool readNumber(std::string_view& text, double* value) {
    const std::string copy(text);
    if (copy.empty() || !(std::isdigit(static_cast<unsigned char>(copy[0])) || copy[0] == '-' ||
                          copy[0] == '+' || copy[0] == '.')) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    *value = std::strtod(copy.c_str(), &end);
    if (end == copy.c_str() || errno != 0 || !std::isfinite(*value)) {
        return false;
    }
    text.remove_prefix(static_cast<size_t>(end - copy.c_str()));
    return true;
}

void skipBlanks(std::string_view& text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
}

Severity severityOf(const std::string& text) {
    const auto severity = parseSeverity(text);
    if (!severity) {
        throw std::invalid_argument("unknown severity \"" + text + "\" (expected info, warning or fatal)");
    }
    return *severity;
}

Comparison comparisonOf(const std::string& text) {
    for (const Comparison op : {Comparison::LessEqual, Comparison::GreaterEqual, Comparison::Less,
                                Comparison::Greater}) {
        if (text == comparisonText(op)) return op;
    }
    throw std::invalid_argument("unknown comparison \"" + text + "\" (expected <, <=, > or >=)");
}

// What each default rule watches for, by indicator and direction.
const char* meaning(const EventRule& r) {
    switch (r.column) {
        case kBlockiness: return "block grid visible (lower is worse; 1 or more is clean)";
        case kSpatialActivity: return "picture almost without detail (lower is flatter)";
        case kLetterbox: return "bars at top and bottom (share of the half-height)";
        case kPillarbox: return "bar at the left (share of the half-width)";
        case kBlockLoss: return "lost 16 x 16 blocks (higher is worse; 0 when clean)";
        case kBlur: return "edges wide (mean edge width in pixels; higher is blurrier)";
        case kTemporalActivity: return "abrupt change: a cut or a jump (higher is a bigger change)";
        case kBlackout: return "flat black or uniform picture";
        case kFreezing: return "frozen picture (exact repeats for a tenth of a second)";
        case kExposure: return r.watchesLow() ? "too dark (lower is darker)" : "too bright (higher is brighter)";
        case kContrast: return "washed out or flat (lower is worse)";
        case kInterlace: return "combing of interlaced fields (higher is worse)";
        case kNoise: return "noisy picture (higher is worse)";
        case kSlice: return "repeated slice bands (higher is worse)";
        case kFlickering: return "blocks switching between still and changing (higher is worse)";
    }
    return "";
}

}  // namespace

MinimumDuration parseDuration(std::string_view text) {
    const std::string original(text);
    double amount = 0;
    if (!readNumber(text, &amount) || amount < 0) {
        throw std::invalid_argument("bad duration \"" + original + "\" (expected e.g. 2s, 500ms or 12f)");
    }
    if (text == "s") return {amount, false};
    if (text == "ms") return {amount / 1000, false};
    if (text == "f" && amount == std::floor(amount)) return {amount, true};
    throw std::invalid_argument("bad duration \"" + original + "\" (expected e.g. 2s, 500ms or 12f)");
}

EventRule parseRule(const std::string& text) {
    try {
        std::string_view rest(text);
        skipBlanks(rest);
        size_t n = 0;
        while (n < rest.size() && (std::isalnum(static_cast<unsigned char>(rest[n])) || rest[n] == '_')) ++n;
        EventRule r;
        r.user = true;
        r.column = indicatorOf(std::string(rest.substr(0, n)));
        rest.remove_prefix(n);
        skipBlanks(rest);
        n = 0;
        while (n < rest.size() && (rest[n] == '<' || rest[n] == '>' || rest[n] == '=')) ++n;
        r.op = comparisonOf(std::string(rest.substr(0, n)));
        rest.remove_prefix(n);
        skipBlanks(rest);
        if (!readNumber(rest, &r.threshold)) {
            throw std::invalid_argument("expected a finite number after " + std::string(comparisonText(r.op)));
        }
        skipBlanks(rest);
        if (rest.rfind("for", 0) == 0) {
            rest.remove_prefix(3);
            skipBlanks(rest);
            const size_t end = rest.find_first_of(" \t:");
            r.minimum = parseDuration(rest.substr(0, end));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
            skipBlanks(rest);
        }
        if (!rest.empty() && rest.front() == ':') {
            rest.remove_prefix(1);
            skipBlanks(rest);
            std::string severity(rest);
            while (!severity.empty() && std::isspace(static_cast<unsigned char>(severity.back()))) severity.pop_back();
            r.severity = severityOf(severity);
            rest = {};
        }
        if (!rest.empty()) {
            throw std::invalid_argument("unexpected \"" + std::string(rest) + "\"");
        }
        return r;
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument("Invalid --rule \"" + text + "\": " + e.what() +
                                    "; expected 'INDICATOR OP VALUE [for DURATION] [: SEVERITY]'");
    }
}

RulesFile readRulesFile(const std::string& path) {
    toml::table file;
    try {
        file = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        const auto line = e.source().begin.line;
        throw std::invalid_argument("Invalid --rules " + path + (line > 0 ? ":" + std::to_string(line) : "") +
                                    ": " + std::string(e.description()));
    }
    RulesFile result;
    const auto fail = [&path](const toml::node& node, const std::string& what) {
        throw std::invalid_argument("Invalid --rules " + path + ":" + std::to_string(node.source().begin.line) +
                                    ": " + what);
    };
    for (auto&& [key, node] : file) {
        const std::string name(key.str());
        const toml::array* list = node.as_array();
        if (list == nullptr || (name != "rule" && name != "rules" && name != "fail_on")) {
            fail(node, "unknown entry \"" + name + "\" (expected [[rule]] tables, rules = [...] or fail_on = [...])");
        }
        for (const toml::node& item : *list) {
            if (name == "rules" || name == "fail_on") {
                const auto text = item.value<std::string>();
                if (!text) fail(item, "expected a string in " + name);
                if (name == "fail_on") {
                    result.failOn.push_back(*text);
                    continue;
                }
                try {
                    result.rules.push_back(parseRule(*text));
                } catch (const std::invalid_argument& e) {
                    fail(item, e.what());
                }
                continue;
            }
            const toml::table* t = item.as_table();
            if (t == nullptr) fail(item, "expected a [[rule]] table");
            const auto indicator = (*t)["indicator"].value<std::string>();
            const auto op = (*t)["op"].value<std::string>();
            const auto value = (*t)["value"].value<double>();
            if (!indicator || !op || !value) fail(item, "a rule needs indicator, op and value");
            for (auto&& [field, v] : *t) {
                const std::string f(field.str());
                if (f != "indicator" && f != "op" && f != "value" && f != "for" && f != "severity") {
                    fail(v, "unknown rule field \"" + f + "\"");
                }
            }
            try {
                EventRule r = parseRule(*indicator + " " + *op + " 0");
                r.threshold = *value;
                if (!std::isfinite(r.threshold)) fail(item, "value must be finite");
                if (const auto duration = (*t)["for"].value<std::string>()) r.minimum = parseDuration(*duration);
                if (const auto severity = (*t)["severity"].value<std::string>()) r.severity = severityOf(*severity);
                result.rules.push_back(r);
            } catch (const std::invalid_argument& e) {
                fail(item, e.what());
            }
        }
    }
    return result;
}

FailOn parseFailOn(const std::string& text) {
    FailOn result;
    size_t at = 0;
    for (;;) {
        const size_t comma = text.find(',', at);
        const std::string kind = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
        const auto severity = parseSeverity(kind);
        if (kind == "any") {
            for (size_t c = 0; c < kIndicatorCount; ++c) result.columns.push_back(static_cast<Column>(c));
        } else if (severity && *severity != Severity::Fatal) {
            result.severities.push_back(*severity);
        } else {
            try {
                result.columns.push_back(indicatorOf(kind));
            } catch (const std::invalid_argument& e) {
                throw std::invalid_argument("Invalid --fail-on \"" + text + "\": " + e.what() +
                                            ", any, warning or info");
            }
        }
        if (comma == std::string::npos) return result;
        at = comma + 1;
    }
}

std::vector<EventRule> runRules(const std::vector<std::string>& rules, const std::string& rulesFile,
                                const std::string& failOn, ColumnSet columns) {
    std::vector<EventRule> user;
    std::vector<std::string> failOnLists;
    if (!rulesFile.empty()) {
        RulesFile file = readRulesFile(rulesFile);
        user = std::move(file.rules);
        failOnLists = std::move(file.failOn);
    }
    for (const std::string& text : rules) {
        user.push_back(parseRule(text));
    }
    if (!failOn.empty()) {
        failOnLists.push_back(failOn);
    }
    FailOn fatal;
    for (const std::string& list : failOnLists) {
        const FailOn kinds = parseFailOn(list);
        fatal.columns.insert(fatal.columns.end(), kinds.columns.begin(), kinds.columns.end());
        fatal.severities.insert(fatal.severities.end(), kinds.severities.begin(), kinds.severities.end());
    }
    for (const EventRule& r : user) {
        if (!columns[r.column]) {
            throw std::invalid_argument("Invalid rule \"" + r.text() + "\": " + std::string(kIndicators[r.column].key) +
                                        " is not computed (--only, --skip)");
        }
    }
    std::vector<EventRule> result;
    for (EventRule r : combineRules(defaultRules(), user)) {
        for (const Severity s : fatal.severities) {
            r.severity = r.severity == s ? Severity::Fatal : r.severity;
        }
        if (columns[r.column]) result.push_back(r);
    }
    makeFatal(result, fatal.columns);
    return result;
}

ColumnSet selectedColumns(const std::string& only, const std::string& skip) {
    const auto keys = [](const std::string& option, const std::string& text) {
        ColumnSet set;
        size_t at = 0;
        for (;;) {
            const size_t comma = text.find(',', at);
            const std::string key = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
            try {
                set.set(indicatorOf(key));
            } catch (const std::invalid_argument& e) {
                throw std::invalid_argument("Invalid " + option + " \"" + text + "\": " + e.what());
            }
            if (comma == std::string::npos) return set;
            at = comma + 1;
        }
    };
    ColumnSet columns = only.empty() ? ColumnSet(kAllColumns) : keys("--only", only);
    if (!skip.empty()) {
        columns &= ~keys("--skip", skip);
    }
    if (columns.none()) {
        throw std::invalid_argument("Invalid --skip \"" + skip + "\": no indicator is left to compute");
    }
    return columns;
}

std::string defaultRulesHelp() {
    std::string text;
    for (const EventRule& r : defaultRules()) {
        std::string line = "  " + r.text();
        line.resize(std::max<size_t>(line.size() + 1, 36), ' ');
        text += line + std::string(severityName(r.severity)) + ": " + meaning(r) + "\n";
    }
    return text;
}

}  // namespace nrvq
