#include "engine_widths.h"

#include <algorithm>
#include <iterator>
#include <cstdint>
#include <limits>

#include "network/network.h"

NetworkBounds networkBounds(const Network& network) {
    const std::vector<int32_t>& point = network.point;
    const std::vector<int32_t>& graph_length = network.length;
    NetworkBounds b;
    b.nodes = network.nodes > 0 ? network.nodes : 0;
    bool any = false;
    for (size_t u = 1; u < point.size() && u <= static_cast<size_t>(b.nodes); ++u) {
        const int32_t begin = point[u - 1], end = point[u];
        if (begin == end) continue;
        const auto [lo, hi] = std::minmax_element(graph_length.begin() + begin, graph_length.begin() + end);
        b.positive_reach += std::max<int64_t>(*hi, 0);
        b.negative_reach += std::max<int64_t>(-int64_t{*lo}, 0);
        b.min_length = any ? std::min<int64_t>(b.min_length, *lo) : *lo;
        b.max_length = any ? std::max<int64_t>(b.max_length, *hi) : *hi;
        any = true;
    }
    return b;
}

bool widthsFit(const EngineWidths& w, const NetworkBounds& b) {
    const bool ids = w.id_bits == 32 || b.nodes <= std::numeric_limits<uint16_t>::max();
    const bool lengths = w.length_bits == 32 || (b.min_length >= std::numeric_limits<int16_t>::min() &&
                                                 b.max_length <= std::numeric_limits<int16_t>::max());
    const bool keys = w.key_bits == 64 || b.span() <= (int64_t{1} << 32) - 2 || b.min_length >= 0;
    return ids && lengths && keys;
}

bool keysChecked(const EngineWidths& w, const NetworkBounds& b) {
    return w.key_bits == 32 && b.span() > (int64_t{1} << 32) - 2;
}

const std::vector<EngineWidths>& engineWidthChoices() {
    static const std::vector<EngineWidths> choices(std::begin(kEngineWidths), std::end(kEngineWidths));
    return choices;
}

EngineWidths narrowestWidths(const NetworkBounds& bounds) {
    for (const EngineWidths& w : engineWidthChoices()) {
        if (widthsFit(w, bounds)) return w;
    }
    return engineWidthChoices().back();
}

namespace {
bool widths_forced = false;
EngineWidths forced_widths{32, 64, 32};
uint64_t choice_version = 0;
}  // namespace

EngineWidths chosenWidths(const NetworkBounds& bounds) {
    return widths_forced ? forced_widths : narrowestWidths(bounds);
}

void forceEngineWidths(const EngineWidths* widths) {
    widths_forced = widths != nullptr;
    if (widths != nullptr) forced_widths = *widths;
    ++choice_version;
}

uint64_t widthChoiceVersion() { return choice_version; }

std::string widthsName(const EngineWidths& w) {
    return "ids" + std::to_string(w.id_bits) + "/keys" + std::to_string(w.key_bits) + "/lengths" +
           std::to_string(w.length_bits);
}
