// ratecv four doubles a register (compiled for x86-64-v3), with the same
// results as two a register; one or two channels keep two a register.
#include "x86/doubles_avx.h"
#include "x86/ratecv.h"
#include "x86/tables.h"

int samplekit::x86::avx2::ratecv(char *out, char *frag, std::size_t nframes, int width,
                                 int channels, int rate_in, int rate_out, int *phase,
                                 int *previous, int *current, int weight_new,
                                 int weight_prev) {
    return ratecv_call(out, frag, nframes, width, channels, rate_in, rate_out, phase,
                       previous, current, weight_new, weight_prev,
                       [](auto w, auto mode, const Conversion &c) {
                           return convert<decltype(w)::value, decltype(mode)::value,
                                          DoubleLanes<2>, DoubleLanes<4>>(c);
                       });
}
