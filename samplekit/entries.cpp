// The fragment routines as the host calls them: each entry passes its
// arguments on to the form this target ships (kernels.h).
#include <cstddef>

#include "kernels.h"
#include "samplekit_decls.h"

using namespace samplekit;

extern "C" void add(char *out, char *frag1, char *frag2, std::size_t len, int width) {
    shipped::add(out, frag1, frag2, len, width);
}

extern "C" void tostereo(char *out, char *frag, std::size_t len, int width, double lgain,
                         double rgain) {
    shipped::tostereo(out, frag, len, width, lgain, rgain);
}

extern "C" void lin2adcpm(unsigned char *output, unsigned char *input, std::size_t len,
                          std::size_t width, int *state) {
    shipped::lin2adcpm(output, input, len, width, state);
}

extern "C" void adcpm2lin(unsigned char *output, unsigned char *input, std::size_t len,
                          std::size_t width, int *state) {
    shipped::adcpm2lin(output, input, len, width, state);
}

extern "C" int ratecv(char *out, char *frag, std::size_t nframes, int width, int channels,
                      int rate_in, int rate_out, int *phase, int *previous, int *current,
                      int weight_new, int weight_prev) {
    return shipped::ratecv(out, frag, nframes, width, channels, rate_in, rate_out, phase,
                           previous, current, weight_new, weight_prev);
}
