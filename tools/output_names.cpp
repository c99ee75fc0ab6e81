#include "output_names.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace tools {

namespace {

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::string fileName(const std::vector<std::string>& kept) {
    std::string name;
    for (const auto& w : kept)
        for (char c : w)
            if (std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80)
                name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

std::string label(vsthost::Plugin& plugin, bool output, int index) {
    VstPinProperties p{};
    const bool answered = output ? plugin.outputProperties(index, p) : plugin.inputProperties(index, p);
    if (!answered) return "";
    p.label[sizeof p.label - 1] = '\0';
    return p.label;
}

std::string pairName(vsthost::Plugin& plugin, bool output, int left, int right) {
    return left == right ? fileName(words(label(plugin, output, left)))
                         : nameFromLabels(label(plugin, output, left), label(plugin, output, right));
}

}  // namespace

std::string nameFromLabels(const std::string& left, const std::string& right) {
    const auto a = words(left), b = words(right);
    std::vector<std::string> kept;
    if (a.size() == b.size()) {
        for (size_t k = 0; k < a.size(); ++k)
            if (a[k] == b[k]) kept.push_back(a[k]);
    } else {
        for (size_t k = 0; k < std::min(a.size(), b.size()) && a[k] == b[k]; ++k) kept.push_back(a[k]);
    }
    return fileName(kept);
}

std::vector<OutputPair> outputPairs(vsthost::Plugin& plugin) {
    const AEffect* e = plugin.effect();
    std::vector<std::string> inputNames;
    for (int k = 0; k + 1 < e->numInputs; k += 2) inputNames.push_back(pairName(plugin, false, k, k + 1));
    std::vector<OutputPair> pairs;
    for (int k = 0; k < e->numOutputs; k += 2) {
        OutputPair p;
        p.left = k;
        p.right = std::min(k + 1, e->numOutputs - 1);
        p.name = k == 0 ? "main" : pairName(plugin, true, p.left, p.right);
        const bool taken = std::any_of(pairs.begin(), pairs.end(), [&](const OutputPair& q) { return q.name == p.name; });
        if (p.name.empty() || taken) {
            char numbered[16];
            std::snprintf(numbered, sizeof numbered, "out%02d", k / 2 + 1);
            p.name = numbered;
        }
        if (k == 0) p.group = OutputPair::Group::Main;
        const auto channel = std::find(inputNames.begin(), inputNames.end(), p.name);
        if (k > 0 && channel != inputNames.end()) {
            p.group = OutputPair::Group::Channel;
            p.channel = static_cast<int>(channel - inputNames.begin()) + 1;
        }
        pairs.push_back(p);
    }
    return pairs;
}

bool selectOutputs(const std::vector<OutputPair>& pairs, const std::string& list, bool all,
                   const std::vector<int>& fedChannels, std::vector<OutputPair>& chosen, std::string& error) {
    bool main = list.empty(), sends = list.empty(), channels = list.empty();
    std::vector<std::string> named;
    std::stringstream items(list);
    for (std::string item; std::getline(items, item, ',');) {
        if (item == "main") main = true;
        else if (item == "sends") sends = true;
        else if (item == "channels") channels = true;
        else if (std::any_of(pairs.begin(), pairs.end(), [&](const OutputPair& p) { return p.name == item; }))
            named.push_back(item);
        else {
            std::string known;
            for (const auto& p : pairs) known += (known.empty() ? "" : ", ") + p.name;
            error = "--outputs: no output is called \"" + item + "\" (main, sends, channels, or one of " + known + ")";
            return false;
        }
    }
    chosen.clear();
    for (const auto& p : pairs) {
        const bool fed = std::find(fedChannels.begin(), fedChannels.end(), p.channel) != fedChannels.end();
        const bool wanted = std::find(named.begin(), named.end(), p.name) != named.end() ||
                            (p.group == OutputPair::Group::Main && main) ||
                            (p.group == OutputPair::Group::Send && sends) ||
                            (p.group == OutputPair::Group::Channel && channels && (fed || all));
        if (wanted) chosen.push_back(p);
    }
    return true;
}

}  // namespace tools
