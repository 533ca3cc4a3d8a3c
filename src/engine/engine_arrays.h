// The inside of an Engine: its arrays for every width it is compiled for,
// and the run's view of them. Only engine.cpp includes it.
#pragma once

#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/aligned_vector.h"
#include "engine.h"
#include "single_source_run.h"

namespace engine {

// The types of the I-th entry of kEngineWidths: ids unsigned (16 bits hold
// 65,535 nodes), keys and lengths signed.
template <int Bits, bool Signed>
using IntOf = std::conditional_t<Bits == 16, std::conditional_t<Signed, int16_t, uint16_t>,
                                 std::conditional_t<Bits == 32, int32_t, int64_t>>;
template <size_t I>
using WidthTypes = Widths<IntOf<kEngineWidths[I].id_bits, false>, IntOf<kEngineWidths[I].key_bits, true>,
                          IntOf<kEngineWidths[I].length_bits, true>>;

// One width's arrays and the run's view of them. 64-bit keys use the
// engine's 64-bit labels and keys, 32-bit ids its 32-bit heap; the rest are
// the width's own. The arc table is read from the table's block.
template <typename W>
struct WidthArrays {
    std::vector<typename W::Key> label;
    AlignedVector<typename W::Id> id;
    std::vector<typename W::Key> key;
    std::vector<typename W::Key> improving_key;
    RunArrays<W> run{};
};

template <size_t... I>
std::tuple<WidthArrays<WidthTypes<I>>...> widthArraysOf(std::index_sequence<I...>);
using AllWidthArrays = decltype(widthArraysOf(std::make_index_sequence<std::size(kEngineWidths)>{}));

// The 64-bit-key width over the same ids and lengths, which checked 32-bit
// keys fall back on. 16-bit ids and lengths never need checked keys.
template <typename W>
using Keys64Of = Widths<typename W::Id, int64_t, typename W::Length>;
template <typename W>
constexpr bool kHasFallback =
    sizeof(typename W::Key) == 4 && !(sizeof(typename W::Id) == 2 && sizeof(typename W::Length) == 2);
template <typename W>
constexpr bool kKeys64 = sizeof(typename W::Key) == sizeof(int64_t);
template <typename W>
constexpr bool kIds32 = sizeof(typename W::Id) == sizeof(int32_t);

// Calls f with an empty value of each compiled width's types and its widths.
template <typename F, size_t... I>
void forEachWidthIn(F f, std::index_sequence<I...>) {
    (f(WidthTypes<I>{}, kEngineWidths[I]), ...);
}
template <typename F>
void forEachWidth(F f) {
    forEachWidthIn(f, std::make_index_sequence<std::size(kEngineWidths)>{});
}

}  // namespace engine

struct Engine::State {
    ArcTable table;
    bool prepared = false;
    bool figures_only = false;
    EngineWidths widths{32, 64, 32};
    InstructionSet set = currentInstructionSet();
    bool set_chosen = false;  // setInstructionSet was called
    int64_t shadow_from = kDefaultShadowFrom;
    // 64-bit labels and keys (the labels of 64-bit keys, or the labels kept
    // for the caller), the 32-bit heap ids, their low halves, the nodes a
    // run reached, the filter's list of heads.
    std::vector<int64_t> own_labels;
    std::vector<int64_t>* labels = &own_labels;
    std::vector<int64_t> key64;
    AlignedVector<int32_t> ids32;
    AlignedVector<uint16_t> low;
    std::vector<int32_t> reached;
    std::vector<int32_t> improving_head;
    engine::AllWidthArrays arrays;
    RunFigures last;
    int32_t previous = 0;  // nodes the last run reached, whose labels the next sets back
    const std::function<void(const std::vector<int32_t>&)>* observer = nullptr;
    engine::ScanCounts counts;
    std::vector<std::vector<int32_t>> traced_steps;

    template <typename W>
    engine::WidthArrays<W>& arraysOf() { return std::get<engine::WidthArrays<W>>(arrays); }
    template <typename W>
    const engine::WidthArrays<W>& arraysOf() const { return std::get<engine::WidthArrays<W>>(arrays); }
};
