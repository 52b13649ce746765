// The IMA ADPCM decoder in scalar aarch64 code: each code moves the coder on
// by one lookup in a table of transitions (aarch64/adpcm_transitions.h), and
// each sample goes out in one store.
#include <cstddef>

#include "aarch64/adpcm_transitions.h"
#include "aarch64/tables.h"
#include "core/adpcm_frame.h"
#include "core/sample_layout.h"

using namespace samplekit::adpcm;

void samplekit::aarch64::scalar::adcpm2lin(unsigned char *output, unsigned char *input,
                                           std::size_t len, std::size_t width, int *state) {
    Coder c = coder_at_entry(state);
    int predicted = c.predicted;
    auto index = static_cast<std::size_t>(c.step_index);
    const bool valid = dispatch_width(checked_width(width), [&](auto w) {
        constexpr int W = decltype(w)::value;
        unsigned char *out = output;
        for (std::size_t i = 0; i < len; ++i) {
            const unsigned byte = input[i];
            adpcm_transition(predicted, index, byte >> 4);
            store16_sample<W>(out, predicted);
            adpcm_transition(predicted, index, byte & 0x0Fu);
            store16_sample<W>(out + W, predicted);
            out += 2 * W;
        }
    });
    c.predicted = predicted;
    c.step_index = static_cast<int>(index);
    if (valid) write_back(state, c, len != 0);
}
