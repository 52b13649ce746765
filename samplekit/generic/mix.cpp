// add and tostereo one sample at a time.
#include "core/mix_frame.h"
#include "generic/plain.h"

namespace {
constexpr auto no_blocks = [](auto &&...) { return std::size_t{0}; };
}

void samplekit::generic::add(char *out, char *frag1, char *frag2, std::size_t len, int width) {
    add_fragments(out, frag1, frag2, len, width, no_blocks);
}

void samplekit::generic::tostereo(char *out, char *frag, std::size_t len, int width,
                                  double lgain, double rgain) {
    tostereo_fragment(out, frag, len, width, lgain, rgain, no_blocks);
}
