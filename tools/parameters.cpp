#include "parameters.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "command_line.h"
#include "identity.h"

namespace tools {

namespace {

std::string trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A number at the start of text, and what follows it (trimmed). Decimal
// only (no hexadecimal, no NaN); infinities are read, and each caller says
// where they mean something.
bool parseNumber(const std::string& text, long double& value, std::string& rest) {
    const char* begin = text.c_str();
    const char* digits = begin + ((*begin == '-' || *begin == '+') ? 1 : 0);
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) return false;
    char* end = nullptr;
    value = std::strtold(begin, &end);
    if (end == begin || std::isnan(value)) return false;
    rest = trim(end);
    return true;
}

std::string numberText(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// Four significant digits: "105.9", "50.12".
std::string shortNumber(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", v);
    return text;
}

// A gain (1 is unity) in dB as a reader wants it: "+0.5 dB", "-inf dB".
std::string decibelText(double gain) {
    if (!(gain > 0.0)) return "-inf dB";
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f dB", 20.0 * std::log10(gain));
    return text;
}

// The float nearest to x: exact where x is a float.
float nearestFloat(long double x) {
    float best = static_cast<float>(x);
    long double error = std::fabs(static_cast<long double>(best) - x);
    for (float candidate : {std::nextafter(best, -INFINITY), std::nextafter(best, INFINITY)}) {
        const long double e = std::fabs(static_cast<long double>(candidate) - x);
        if (e < error) {
            best = candidate;
            error = e;
        }
    }
    return best;
}

// The number the panel shows for value v of a parameter (the parameter is
// left at v).
bool shownNumber(vsthost::Plugin& plugin, VstInt32 index, float v, double& shown) {
    plugin.setParameter(index, v);
    long double number = 0;
    std::string rest;
    if (!parseNumber(trim(plugin.parameterDisplay(index)), number, rest)) return false;
    shown = static_cast<double>(number);
    return true;
}

// The panel's text for value v, the parameter left as it was.
std::string shownText(vsthost::Plugin& plugin, VstInt32 index, float v) {
    const float before = plugin.getParameter(index);
    plugin.setParameter(index, v);
    std::string text = trim(plugin.parameterDisplay(index));
    const std::string unit = trim(plugin.parameterLabel(index));
    if (!unit.empty()) text += " " + unit;
    plugin.setParameter(index, before);
    return text;
}

// For an effect known only by its texts: the value in 0..1 whose panel
// shows target, for a panel that shows larger numbers for larger values.
// Of the values that show it, the one with the fewest decimals, else the
// smallest.
float invertDisplay(vsthost::Plugin& plugin, VstInt32 index, double target) {
    float lo = 0.0f, hi = 1.0f;
    for (int step = 0; step < 64 && lo < hi; ++step) {
        const float mid = lo + (hi - lo) / 2;
        if (mid == lo || mid == hi) break;
        double shown = 0;
        shownNumber(plugin, index, mid, shown);
        if (shown >= target) hi = mid;
        else lo = mid;
    }
    double shown = 0;
    shownNumber(plugin, index, lo, shown);
    const float smallest = shown >= target ? lo : hi;
    for (double scale = 10.0; scale <= 1e7; scale *= 10.0) {
        const auto candidate = static_cast<float>(std::round(smallest * scale) / scale);
        if (candidate >= 0.0f && candidate <= 1.0f && shownNumber(plugin, index, candidate, shown) && shown == target)
            return candidate;
    }
    return smallest;
}

// The names closest to a mistyped one, nearest first.
std::vector<std::string> nearestNames(vsthost::Plugin& plugin, const std::string& name, size_t count = 3) {
    std::vector<std::pair<size_t, std::string>> scored;
    for (VstInt32 i = 0; i < plugin.effect()->numParams; ++i) {
        const std::string candidate = plugin.parameterName(i);
        scored.emplace_back(editDistance(name, candidate), candidate);
    }
    std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (size_t i = 0; i < scored.size() && i < count; ++i) names.push_back(scored[i].second);
    return names;
}

// The parameter a name means: the exact name, else the one name equal to
// it in any case, else an index. -1 with a reason.
VstInt32 findParameter(vsthost::Plugin& plugin, const std::string& name, std::string& error) {
    const VstInt32 count = plugin.effect()->numParams;
    std::vector<VstInt32> folded;
    for (VstInt32 i = 0; i < count; ++i) {
        const std::string candidate = plugin.parameterName(i);
        if (candidate == name) return i;
        if (lower(candidate) == lower(name)) folded.push_back(i);
    }
    if (folded.size() == 1) return folded[0];
    if (folded.size() > 1) {
        error = "\"" + name + "\" names " + std::to_string(folded.size()) +
                " parameters in different cases; give the exact name or the index";
        return -1;
    }
    if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const long index = name.size() > 9 ? count : std::strtol(name.c_str(), nullptr, 10);
        if (index < count) return static_cast<VstInt32>(index);
        error = "parameter index " + name + " is out of range: the effect has parameters 0 to " + std::to_string(count - 1);
        return -1;
    }
    error = "unknown parameter \"" + name + "\"; nearest: ";
    const auto near = nearestNames(plugin, name);
    for (size_t i = 0; i < near.size(); ++i) error += (i ? ", \"" : "\"") + near[i] + "\"";
    error += " (tarnvale-host info --parameters lists them all)";
    return -1;
}

// The forms a value of this parameter takes, as examples.
std::string acceptedForms(vsthost::Plugin& plugin, VstInt32 index) {
    const std::string name = plugin.parameterName(index);
    if (const auto* t = tarnvaleParameter(plugin, index)) {
        if (t->kind == tarnvale::kPan)
            return "\"" + name + "=-0.4\" (a pan from -1, left, to 1, right) or \"" + name + "=0.3 raw\"";
        return "\"" + name + "=-6dB\", \"" + name + "=50%\" or \"" + name + "=0.5 raw\"";
    }
    const std::string label = trim(plugin.parameterLabel(index));
    if (label.empty()) return "\"" + name + "=0.5\"";
    return "\"" + name + "=1 " + label + "\" or \"" + name + "=0.5 raw\"";
}

// A level's range as the panel shows it, with its dB: "0 to 128 %, up to +2.1 dB".
std::string levelRange(VstInt32 index) {
    const double top = tarnvale::panelValue(index, 1.0);
    return "0 to " + numberText(top) + " %, up to " + decibelText(top / 100.0);
}

// A plain number for a level: the three things it could have meant, each
// with what it would give.
std::string ambiguousLevel(vsthost::Plugin& plugin, VstInt32 index, const std::string& typed, long double number) {
    const std::string name = plugin.parameterName(index);
    const double n = static_cast<double>(number);
    const double top = tarnvale::panelValue(index, 1.0);
    std::string asPercent, asDecibels, asRaw;
    if (n >= 0.0 && n <= top)
        asPercent = numberText(n) + " % of unity gain, " + decibelText(n / 100.0);
    else
        asPercent = "outside 0 to " + numberText(top) + " %";
    const double gain = std::pow(10.0, n / 20.0);
    if (100.0 * gain <= top)
        asDecibels = shortNumber(100.0 * gain) + " %";
    else
        asDecibels = "beyond the " + decibelText(top / 100.0) + " it reaches";
    if (n >= 0.0 && n <= 1.0)
        asRaw = "the stored value, " + shownText(plugin, index, static_cast<float>(n));
    else
        asRaw = "outside the stored range 0 to 1";
    return "\"" + name + "=" + typed + "\": a level needs its unit: \"" + name + "=" + typed + "%\" (" + asPercent +
           "), \"" + name + "=" + typed + "dB\" (" + asDecibels + ") or \"" + name + "=" + typed + " raw\" (" + asRaw + ")";
}

// Tarnvale's parameters, from the engine's tables: the stored value whose
// gain (or pan) is exactly the one given where a float holds it, else the
// nearest float.
bool resolveTarnvale(vsthost::Plugin& plugin, const tarnvale::ParameterInfo& info, const std::string& valueText,
                     long double number, const std::string& unit, ParameterSetting& setting, std::string& error) {
    const std::string name = plugin.parameterName(setting.index);
    const std::string folded = lower(unit);
    long double shown = number;  // the panel's number for it
    if (info.kind == tarnvale::kPan) {
        if (!unit.empty()) {
            error = name + " is a pan: give a plain number from -1 (left) through 0 to 1 (right), as in \"" + name +
                    "=-0.4\", or the stored value, as in \"" + name + "=0.3 raw\"; not \"" + valueText + "\"";
            return false;
        }
        if (!(number >= -1.0L && number <= 1.0L)) {
            error = "value " + valueText + " for " + name + " lies outside what the panel shows (-1 to 1)";
            return false;
        }
    } else {
        if (unit.empty()) {
            error = ambiguousLevel(plugin, setting.index, valueText, number);
            return false;
        }
        if (folded == "db") {
            shown = std::isinf(number) && number < 0 ? 0.0L : 100.0L * std::pow(10.0L, number / 20.0L);
        } else if (folded != "%") {
            error = name + " is a level: give its gain in % or dB, as in \"" + name + "=50%\" or \"" + name +
                    "=-6dB\", or the stored value, as in \"" + name + "=0.5 raw\"; not in \"" + unit + "\"";
            return false;
        }
        if (!(shown >= 0.0L && shown <= static_cast<long double>(tarnvale::panelValue(setting.index, 1.0)))) {
            error = "value " + valueText + " for " + name + " lies outside what the panel shows (" +
                    levelRange(setting.index) + ")";
            return false;
        }
    }
    const long double stored = shown / static_cast<long double>(info.panel->scale) + static_cast<long double>(info.panel->offset);
    setting.value = std::min(1.0f, std::max(0.0f, nearestFloat(stored)));
    // Said as it was given wherever the panel's text says something else.
    double onPanel = 0;
    const float before = plugin.getParameter(setting.index);
    const bool readable = shownNumber(plugin, setting.index, setting.value, onPanel);
    plugin.setParameter(setting.index, before);
    if (folded == "db" || !readable || static_cast<long double>(onPanel) != number) setting.given = valueText;
    return true;
}

// Other effects, by their texts alone.
bool resolveOther(vsthost::Plugin& plugin, const std::string& valueText, long double number, const std::string& unit,
                  ParameterSetting& setting, std::string& error) {
    const std::string name = plugin.parameterName(setting.index);
    const std::string label = trim(plugin.parameterLabel(setting.index));
    const float before = plugin.getParameter(setting.index);
    double low = 0, high = 0;
    const bool rising = shownNumber(plugin, setting.index, 0.0f, low) && shownNumber(plugin, setting.index, 1.0f, high) &&
                        high > low;
    plugin.setParameter(setting.index, before);
    if (unit.empty() && !label.empty()) {
        error = "\"" + name + "=" + valueText + "\": " + name + " is shown in " + label + ", so give the unit: \"" + name +
                "=" + valueText + " " + label + "\" (as the panel shows it) or \"" + name + "=" + valueText +
                " raw\" (the stored 0..1 value)";
        return false;
    }
    if (unit.empty() && !rising) {  // a panel without numbers: the stored value is all there is
        if (!(number >= 0.0L && number <= 1.0L)) {
            error = "value " + valueText + " for " + name + " lies outside 0..1 (its panel shows no number)";
            return false;
        }
        setting.value = nearestFloat(number);
        return true;
    }
    if (!unit.empty() && lower(unit) != lower(label)) {
        error = name + (label.empty() ? " has no unit" : " is set in " + label) + ", not in \"" + unit + "\"; give " +
                acceptedForms(plugin, setting.index);
        return false;
    }
    if (!rising) {
        error = name + " cannot be set in " + label + ": its panel text is not a rising number; give the stored value, "
                "as in \"" + name + "=0.5 raw\"";
        return false;
    }
    const double slack = (high - low) * 1e-6;
    const auto n = static_cast<double>(number);
    if (!(n >= low - slack && n <= high + slack)) {
        error = "value " + valueText + " for " + name + " lies outside what the panel shows (" + numberText(low) +
                " to " + numberText(high) + (label.empty() ? "" : " " + label) + ")";
        return false;
    }
    setting.value = invertDisplay(plugin, setting.index, n);
    plugin.setParameter(setting.index, before);
    return true;
}

}  // namespace

const tarnvale::ParameterInfo* tarnvaleParameter(vsthost::Plugin& plugin, VstInt32 index) {
    const AEffect* e = plugin.effect();
    const char* id = tarnvale::identity::kUniqueId;
    const VstInt32 uniqueId = fourCharCode(id[0], id[1], id[2], id[3]);
    if (e->uniqueID != uniqueId || e->numParams != tarnvale::kNumParams || !tarnvale::isParameterIndex(index))
        return nullptr;
    const auto& info = tarnvale::kParameters[static_cast<size_t>(index)];
    return plugin.parameterName(index) == info.name ? &info : nullptr;
}

std::string describeParameter(vsthost::Plugin& plugin, VstInt32 index) {
    std::string text = plugin.parameterName(index) + " = " + trim(plugin.parameterDisplay(index));
    const std::string unit = trim(plugin.parameterLabel(index));
    if (!unit.empty()) text += " " + unit;
    return text;
}

std::string describeSetting(vsthost::Plugin& plugin, const ParameterSetting& setting) {
    std::string text = describeParameter(plugin, setting.index);
    if (!setting.given.empty()) text += " (given as " + setting.given + ")";
    return text;
}

bool resolveSetting(vsthost::Plugin& plugin, const std::string& assignment, ParameterSetting& setting, std::string& error) {
    const auto equals = assignment.find('=');
    if (equals == std::string::npos) {
        error = "--set needs NAME=VALUE, as in --set \"Ch.01 Volume=-3dB\"; got \"" + assignment + "\"";
        return false;
    }
    const std::string name = trim(assignment.substr(0, equals));
    const std::string valueText = trim(assignment.substr(equals + 1));
    setting = ParameterSetting{};
    setting.index = findParameter(plugin, name, error);
    if (setting.index < 0) return false;
    const std::string shownName = plugin.parameterName(setting.index);

    long double number = 0;
    std::string unit;
    if (!parseNumber(valueText, number, unit)) {
        error = "\"" + valueText + "\" is not a value for " + shownName + "; give " + acceptedForms(plugin, setting.index);
        return false;
    }
    if (unit.size() >= 2 && unit[0] == ',' && std::isdigit(static_cast<unsigned char>(unit[1]))) {
        std::string fixed = valueText;
        fixed[fixed.find(',')] = '.';
        error = "\"" + valueText + "\" for " + shownName + ": write the decimal point as \".\", as in \"" + shownName +
                "=" + fixed + "\"";
        return false;
    }
    const bool decibels = lower(unit) == "db";
    if (std::isinf(number) && !(decibels && number < 0)) {
        error = "\"" + valueText + "\" is not a value for " + shownName + " (only a level in dB can be -inf)";
        return false;
    }
    if (lower(unit) == "raw") {
        if (!(number >= 0.0L && number <= 1.0L)) {
            error = "value " + valueText + " for " + shownName + " lies outside 0..1, the range of a raw value";
            return false;
        }
        setting.value = nearestFloat(number);
        setting.given = valueText;
        return true;
    }
    if (const auto* info = tarnvaleParameter(plugin, setting.index))
        return resolveTarnvale(plugin, *info, valueText, number, unit, setting, error);
    return resolveOther(plugin, valueText, number, unit, setting, error);
}

}  // namespace tools
