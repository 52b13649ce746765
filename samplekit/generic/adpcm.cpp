// The ADPCM coder one sample at a time.
#include "core/adpcm_frame.h"
#include "core/sample_layout.h"
#include "generic/plain.h"

using namespace samplekit::adpcm;

void samplekit::generic::lin2adcpm(unsigned char *output, unsigned char *input,
                                   std::size_t len, std::size_t width, int *state) {
    Coder c = coder_at_entry(state);
    std::size_t samples = 0;
    const bool valid = dispatch_width(checked_width(width), [&](auto w) {
        constexpr int W = decltype(w)::value;
        samples = len / W;
        const unsigned char *in = input;
        for (std::size_t i = 0; i < samples / 2; ++i) {
            const unsigned first = encode_sample(c, load16<W>(in));
            const unsigned second = encode_sample(c, load16<W>(in + W));
            output[i] = static_cast<unsigned char>(first << 4 | second);
            in += 2 * W;
        }
        if (samples & 1) encode_sample(c, load16<W>(in));
    });
    if (valid) write_back(state, c, samples != 0);
}

void samplekit::generic::adcpm2lin(unsigned char *output, unsigned char *input,
                                   std::size_t len, std::size_t width, int *state) {
    Coder c = coder_at_entry(state);
    const bool valid = dispatch_width(checked_width(width), [&](auto w) {
        constexpr int W = decltype(w)::value;
        unsigned char *out = output;
        for (std::size_t i = 0; i < len; ++i) {
            const unsigned byte = input[i];
            decode_code(c, byte >> 4);
            store16<W>(out, c.predicted);
            decode_code(c, byte & 0x0Fu);
            store16<W>(out + W, c.predicted);
            out += 2 * W;
        }
    });
    if (valid) write_back(state, c, len != 0);
}
