// The plain forms compiled on their own for the tests and benchmarks, without
// automatic vectorisation, so that they stay one sample at a time whatever
// form the target ships. Not part of any module.
#include "generic/reference.h"

#include "generic/plain.h"

namespace samplekit::reference {

void add(char *out, char *frag1, char *frag2, std::size_t len, int width) {
    generic::add(out, frag1, frag2, len, width);
}

void tostereo(char *out, char *frag, std::size_t len, int width, double lgain,
              double rgain) {
    generic::tostereo(out, frag, len, width, lgain, rgain);
}

void lin2adcpm(unsigned char *output, unsigned char *input, std::size_t len,
               std::size_t width, int *state) {
    generic::lin2adcpm(output, input, len, width, state);
}

void adcpm2lin(unsigned char *output, unsigned char *input, std::size_t len,
               std::size_t width, int *state) {
    generic::adcpm2lin(output, input, len, width, state);
}

int ratecv(char *out, char *frag, std::size_t nframes, int width, int channels,
           int rate_in, int rate_out, int *phase, int *previous, int *current,
           int weight_new, int weight_prev) {
    return generic::ratecv(out, frag, nframes, width, channels, rate_in, rate_out, phase,
                           previous, current, weight_new, weight_prev);
}

}  // namespace samplekit::reference
