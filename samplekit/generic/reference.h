// The plain forms of the fragment routines (plain.h) as functions of their
// own, with the signatures of the entries, for the tests and benchmarks: a
// faster form must give the same bytes and the same carried state, and the
// benchmarks show what it gains. Built without automatic vectorisation, and
// part of no module.
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
