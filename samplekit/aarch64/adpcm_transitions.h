// The ADPCM coder's step from one sample to the next as one table lookup:
// for step index i and code c, entry i * 16 + c holds the signed change of
// the predicted value (bits 8 and up) and the next step index (bits 0 to 7),
// both as the decoder works them out (core/adpcm_frame.h). One load and a
// shifted add then replace the three conditional terms of the change and the
// clamp of the index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/adpcm_frame.h"

namespace samplekit::aarch64 {

// The table is data, which the encoder's and the decoder's files share; their
// code stays internal to each (below).
struct AdpcmTransitions {
    std::int32_t entry[(adpcm::kLastStepIndex + 1) * 16];
};

constexpr AdpcmTransitions make_adpcm_transitions() {
    AdpcmTransitions t{};
    for (int index = 0; index <= adpcm::kLastStepIndex; ++index)
        for (int code = 0; code < 16; ++code) {
            const int step = adpcm::adpcm_step_sizes[index];
            int delta = step >> 3;
            if (code & 4) delta += step;
            if (code & 2) delta += step >> 1;
            if (code & 1) delta += step >> 2;
            if (code & 8) delta = -delta;
            const int moved = index + adpcm::adpcm_index_adjust[code];
            const int next = moved < 0 ? 0 : moved > adpcm::kLastStepIndex ? adpcm::kLastStepIndex : moved;
            t.entry[index * 16 + code] = delta * 256 + next;
        }
    return t;
}

alignas(64) inline constexpr AdpcmTransitions kAdpcmTransitions = make_adpcm_transitions();

namespace {

// Moves the coder on by code: the predicted value, clamped to 16 bits, and the
// step index.
[[gnu::always_inline]] inline void adpcm_transition(int &predicted, std::size_t &index,
                                                    unsigned code) {
    const std::int32_t e = kAdpcmTransitions.entry[index * 16 + code];
    predicted = adpcm::clamp16(predicted + (e >> 8));
    index = static_cast<std::size_t>(e & 0xFF);
}

// A 16-bit value as a sample of width W (store16 of core/sample_layout.h), in
// one or two stores.
template <int W>
[[gnu::always_inline]] inline void store16_sample(unsigned char *p, int v) {
    if constexpr (W == 1) {
        p[0] = static_cast<unsigned char>(v >> 8);
    } else if constexpr (W == 4) {
        const std::uint32_t bits = static_cast<std::uint32_t>(v) << 16;
        std::memcpy(p, &bits, 4);
    } else {
        const auto bits = static_cast<std::uint16_t>(v);
        if constexpr (W == 3) p[0] = 0;
        std::memcpy(p + W - 2, &bits, 2);
    }
}

}  // namespace
}  // namespace samplekit::aarch64
