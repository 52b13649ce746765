// The SSE2 forms of the fragment routines, for x86 targets (32- and 64-bit)
// whose baseline has SSE2 and does its double arithmetic in SSE registers.
// A build may raise the baseline (-march=x86-64-v3, say); the same sources
// are then compiled for it, and tostereo takes four doubles a register where
// the baseline has AVX.
#pragma once

#include <cstddef>

#if !defined(__SSE2__) || !defined(__SSE2_MATH__)
#error "the x86 kernels need SSE2 with double arithmetic in SSE registers (-msse2 -mfpmath=sse)"
#endif

namespace samplekit::x86 {

void add(char *out, char *frag1, char *frag2, std::size_t len, int width);
void tostereo(char *out, char *frag, std::size_t len, int width, double lgain, double rgain);
void lin2adcpm(unsigned char *output, unsigned char *input, std::size_t len, std::size_t width,
               int *state);
void adcpm2lin(unsigned char *output, unsigned char *input, std::size_t len, std::size_t width,
               int *state);
int ratecv(char *out, char *frag, std::size_t nframes, int width, int channels, int rate_in,
           int rate_out, int *phase, int *previous, int *current, int weight_new,
           int weight_prev);

}  // namespace samplekit::x86
