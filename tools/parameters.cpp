#include "parameters.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace tools {

namespace {

std::string trim(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

bool parseNumber(const std::string& text, double& value, std::string& rest) {
    const char* begin = text.c_str();
    char* end = nullptr;
    value = std::strtod(begin, &end);
    if (end == begin || !std::isfinite(value)) return false;
    rest = trim(end);
    return true;
}

size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// The number the panel shows for value v of a parameter.
bool shownNumber(vsthost::Plugin& plugin, VstInt32 index, float v, double& shown) {
    plugin.setParameter(index, v);
    std::string rest;
    return parseNumber(plugin.parameterDisplay(index), shown, rest);
}

// The value in 0..1 whose panel shows target, for a panel that shows larger
// numbers for larger values: of the values that show it, the one with the
// fewest decimals (so "0" puts a pan at 0.5 and "64%" a level at 0.5),
// else the smallest.
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

std::string formatShown(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
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

}  // namespace

std::string describeParameter(vsthost::Plugin& plugin, VstInt32 index) {
    std::string text = plugin.parameterName(index) + " = " + trim(plugin.parameterDisplay(index));
    const std::string unit = plugin.parameterLabel(index);
    if (!unit.empty()) text += " " + unit;
    return text;
}

bool resolveSetting(vsthost::Plugin& plugin, const std::string& assignment, ParameterSetting& setting, std::string& error) {
    const auto equals = assignment.find('=');
    if (equals == std::string::npos) {
        error = "--set needs NAME=VALUE, got \"" + assignment + "\"";
        return false;
    }
    const std::string name = trim(assignment.substr(0, equals));
    const std::string valueText = trim(assignment.substr(equals + 1));
    const VstInt32 count = plugin.effect()->numParams;

    setting.index = -1;
    for (VstInt32 i = 0; i < count && setting.index < 0; ++i)
        if (plugin.parameterName(i) == name) setting.index = i;
    if (setting.index < 0 && !name.empty() && std::all_of(name.begin(), name.end(), ::isdigit)) {
        const long index = std::strtol(name.c_str(), nullptr, 10);
        if (index >= count) {
            error = "parameter index " + name + " is out of range: the effect has parameters 0 to " +
                    std::to_string(count - 1);
            return false;
        }
        setting.index = static_cast<VstInt32>(index);
    }
    if (setting.index < 0) {
        error = "unknown parameter \"" + name + "\"; nearest: ";
        const auto near = nearestNames(plugin, name);
        for (size_t i = 0; i < near.size(); ++i) error += (i ? ", \"" : "\"") + near[i] + "\"";
        return false;
    }

    double number = 0;
    std::string unit;
    if (!parseNumber(valueText, number, unit)) {
        error = "\"" + valueText + "\" is not a value for " + plugin.parameterName(setting.index);
        return false;
    }
    const float before = plugin.getParameter(setting.index);
    const std::string label = trim(plugin.parameterLabel(setting.index));
    double low = 0, high = 0;
    const bool readable = shownNumber(plugin, setting.index, 0.0f, low) && shownNumber(plugin, setting.index, 1.0f, high);
    plugin.setParameter(setting.index, before);
    // A plain number is the panel's own for a parameter whose panel shows a
    // number with no unit (a pan, -1 to 1); for the others, and with "raw",
    // it is the 0..1 value the plug-in stores.
    const bool panelHasNoUnit = label.empty() && readable && high > low;
    if (unit == "raw" || (unit.empty() && !panelHasNoUnit)) {
        if (number < 0.0 || number > 1.0) {
            error = "value " + valueText + " for " + plugin.parameterName(setting.index) + " lies outside 0..1" +
                    (label.empty() ? "" : " (give the unit, " + label + ", to use the panel's scale)");
            return false;
        }
        setting.value = static_cast<float>(number);
        return true;
    }
    if (!unit.empty() && unit != label) {
        error = plugin.parameterName(setting.index) + (label.empty() ? " has no unit" : " is set in " + label) +
                ", not in \"" + unit + "\"";
        return false;
    }
    if (!readable || !(high > low)) {
        error = plugin.parameterName(setting.index) + " cannot be set in " + label + ": its panel text is not a rising number";
        return false;
    }
    const double slack = (high - low) * 1e-6;
    if (number < low - slack || number > high + slack) {
        error = "value " + valueText + " for " + plugin.parameterName(setting.index) + " lies outside what the panel shows (" +
                formatShown(low) + " to " + formatShown(high) + (label.empty() ? "" : " " + label) + ")";
        return false;
    }
    setting.value = invertDisplay(plugin, setting.index, number);
    plugin.setParameter(setting.index, before);
    return true;
}

}  // namespace tools
