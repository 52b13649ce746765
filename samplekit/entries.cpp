// The fragment routines as the host calls them: each entry passes its
// arguments on to the form of the table this build ships
// (implementations.h), as a direct call.
#include <cstddef>

#include "frame/forward.h"
#include "implementations.h"

using samplekit::shipped;

extern "C" void add(char *out, char *frag1, char *frag2, std::size_t len, int width) {
    kivo::call<shipped.add.function>(out, frag1, frag2, len, width);
}

extern "C" void tostereo(char *out, char *frag, std::size_t len, int width, double lgain,
                         double rgain) {
    kivo::call<shipped.tostereo.function>(out, frag, len, width, lgain, rgain);
}

extern "C" void lin2adcpm(unsigned char *output, unsigned char *input, std::size_t len,
                          std::size_t width, int *state) {
    kivo::call<shipped.lin2adcpm.function>(output, input, len, width, state);
}

extern "C" void adcpm2lin(unsigned char *output, unsigned char *input, std::size_t len,
                          std::size_t width, int *state) {
    kivo::call<shipped.adcpm2lin.function>(output, input, len, width, state);
}

extern "C" int ratecv(char *out, char *frag, std::size_t nframes, int width, int channels,
                      int rate_in, int rate_out, int *phase, int *previous, int *current,
                      int weight_new, int weight_prev) {
    return kivo::call<shipped.ratecv.function>(out, frag, nframes, width, channels, rate_in,
                                               rate_out, phase, previous, current, weight_new,
                                               weight_prev);
}
