// Plain scalar forms of the fragment routines, one sample at a time, with the
// signatures of the shipped entries. The shipped routines must give the same
// bytes and the same carried state; the tests compare them with these, and the
// benchmarks show what the shipped forms gain. They are built without
// automatic vectorisation and are not exported from the module.
#pragma once

#include <cstddef>

namespace samplekit::reference {

void add(char *out, char *frag1, char *frag2, std::size_t len, int width);
void tostereo(char *out, char *frag, std::size_t len, int width, double lgain,
              double rgain);
void lin2adcpm(unsigned char *output, unsigned char *input, std::size_t len,
               std::size_t width, int *state);
void adcpm2lin(unsigned char *output, unsigned char *input, std::size_t len,
               std::size_t width, int *state);
int ratecv(char *out, char *frag, std::size_t nframes, int width, int channels,
           int rate_in, int rate_out, int *phase, int *previous, int *current,
           int weight_new, int weight_prev);

}  // namespace samplekit::reference
