// tostereo four doubles a register (compiled for x86-64-v3), with the same
// results as two a register.
#include "x86/doubles_avx.h"
#include "x86/tables.h"
#include "x86/tostereo.h"

void samplekit::x86::avx2::tostereo(char *out, char *frag, std::size_t len, int width,
                                    double lgain, double rgain) {
    tostereo_fragment(out, frag, len, width, lgain, rgain,
                      StereoBlocks<4>{lgain, rgain});
}
