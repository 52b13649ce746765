// The IMA ADPCM encoder in scalar aarch64 code: the quantiser's three levels
// as conditional selects (the residual of a working coder is close to random,
// so branches would mispredict), then one lookup in the table of transitions
// (aarch64/adpcm_transitions.h) for the coder's new state.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "aarch64/adpcm_transitions.h"
#include "aarch64/tables.h"
#include "core/adpcm_frame.h"
#include "core/sample_layout.h"

using namespace samplekit::adpcm;

namespace samplekit::aarch64 {
namespace {

// The sample at p on the 16-bit scale (load16 of core/sample_layout.h).
template <int W>
[[gnu::always_inline]] inline int load16_sample(const unsigned char *p) {
    if constexpr (W == 1) {
        return static_cast<std::int8_t>(p[0]) * 256;
    } else {
        std::int16_t v;
        std::memcpy(&v, p + W - 2, 2);
        return v;
    }
}

// The code of value, as encode_sample gives it, and the coder moved on by it.
[[gnu::always_inline]] inline unsigned encode(int &predicted, std::size_t &index, int value) {
    const int diff = value - predicted;
    const int negative = diff >> 31;   // all ones below zero
    int rest = (diff ^ negative) - negative;
    const int step = adpcm_step_sizes[index];
    const int half = step >> 1, quarter = step >> 2;
    const int take_step = -static_cast<int>(rest >= step);
    rest -= step & take_step;
    const int take_half = -static_cast<int>(rest >= half);
    rest -= half & take_half;
    const int take_quarter = -static_cast<int>(rest >= quarter);
    const auto code = static_cast<unsigned>((negative & 8) | (take_step & 4) | (take_half & 2) |
                                            (take_quarter & 1));
    adpcm_transition(predicted, index, code);
    return code;
}

}  // namespace
}  // namespace samplekit::aarch64

void samplekit::aarch64::scalar::lin2adcpm(unsigned char *output, unsigned char *input,
                                           std::size_t len, std::size_t width, int *state) {
    Coder c = coder_at_entry(state);
    int predicted = c.predicted;
    auto index = static_cast<std::size_t>(c.step_index);
    std::size_t samples = 0;
    const bool valid = dispatch_width(checked_width(width), [&](auto w) {
        constexpr int W = decltype(w)::value;
        samples = len / W;
        const unsigned char *in = input;
        for (std::size_t i = 0; i < samples / 2; ++i) {
            const unsigned first = encode(predicted, index, load16_sample<W>(in));
            const unsigned second = encode(predicted, index, load16_sample<W>(in + W));
            output[i] = static_cast<unsigned char>(first << 4 | second);
            in += 2 * W;
        }
        if (samples & 1) encode(predicted, index, load16_sample<W>(in));
    });
    c.predicted = predicted;
    c.step_index = static_cast<int>(index);
    if (valid) write_back(state, c, samples != 0);
}
