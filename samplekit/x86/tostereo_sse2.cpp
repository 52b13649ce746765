// tostereo two doubles a register.
#include "x86/tables.h"
#include "x86/tostereo.h"

// Writes 2 * (whole samples of len) * width bytes, left sample first; a
// partial trailing sample and a width outside 1 to 4 store nothing. A product
// that is not a number (a NaN gain, or an infinite gain times a zero sample)
// passes both saturation tests; clamp_to_range turns it into INT32_MIN, so its
// low bytes are stored: zeros at widths 1 to 3 and INT32_MIN at width 4, the
// same on every target.
void samplekit::x86::sse2::tostereo(char *out, char *frag, std::size_t len, int width,
                                    double lgain, double rgain) {
    tostereo_fragment(out, frag, len, width, lgain, rgain,
                      StereoBlocks<2>{lgain, rgain});
}
