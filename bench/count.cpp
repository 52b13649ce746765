// A driver for counting, not timing: one call of one routine of one table of
// samplekit::compiled over noise, between two marker functions, so that an
// emulator's log of the blocks executed can be cut at the call's entry and
// return (bench/estimates.py). It builds for every Linux target, without
// Google Benchmark, and is linked statically.
//
//   count_samplekit --list
//       one line per table compiled: its name, "shipped" for the one the
//       module ships, whether this processor runs it, and the address of
//       each of its forms (tables that share a form show the same address)
//   count_samplekit TABLE ROUTINE WIDTH CHANNELS N [WEIGHT_PREV]
//       ROUTINE add, tostereo, lin2adcpm, adcpm2lin or ratecv; N samples:
//       input samples of add, tostereo and lin2adcpm, output samples of
//       adcpm2lin (N / 2 code bytes), input samples of ratecv (N / CHANNELS
//       frames, 44.1 to 48 kHz, weights 1 and WEIGHT_PREV, default 0).
//       CHANNELS counts for ratecv alone. Prints "samples S checksum C": S
//       is the count the figures are per, N but for ratecv, whose S is its
//       output samples (frames written times channels).
//
// Exit status 2 for bad arguments, 77 when this processor cannot run TABLE.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/processor.h"
#include "core/ratecv_frame.h"
#include "implementations.h"

// The markers: the log's cut points. Their code does nothing, and neither the
// compiler nor the linker may drop or merge their calls.
extern "C" __attribute__((noinline, noipa, used)) void kivo_count_begin() {
    asm volatile("" ::: "memory");
}
extern "C" __attribute__((noinline, noipa, used)) void kivo_count_end() {
    asm volatile("" ::: "memory");
}

namespace {

using samplekit::Implementation;

// Noise: the bytes of a fixed xorshift sequence, eight at a time, so that
// making them adds few blocks to the emulator's log.
std::vector<unsigned char> noise(std::size_t n, std::uint64_t seed) {
    std::vector<unsigned char> v(n + 8);
    std::uint64_t x = 0x9e3779b97f4a7c15u * seed;
    for (std::size_t i = 0; i < n; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(&v[i], &x, 8);
    }
    v.resize(n);
    return v;
}

// A sum of the output, eight bytes at a time, that keeps it alive.
std::uint64_t checksum(const std::vector<unsigned char> &v) {
    std::uint64_t h = 0;
    std::size_t i = 0;
    for (; i + 8 <= v.size(); i += 8) {
        std::uint64_t x;
        std::memcpy(&x, &v[i], 8);
        h = (h ^ x) * 0x100000001b3u;
    }
    for (; i < v.size(); ++i) h = (h ^ v[i]) * 0x100000001b3u;
    return h;
}

char *chars(std::vector<unsigned char> &v) { return reinterpret_cast<char *>(v.data()); }

int usage() {
    std::fprintf(stderr,
                 "usage: count_samplekit --list\n"
                 "       count_samplekit TABLE ROUTINE WIDTH CHANNELS N [WEIGHT_PREV]\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--list") {
        for (const Implementation *impl : samplekit::compiled)
            std::printf("%s %s %s add=%p tostereo=%p lin2adcpm=%p adcpm2lin=%p ratecv=%p\n",
                        impl->name, impl == &samplekit::shipped ? "shipped" : "-",
                        samplekit::runs_here(*impl) ? "runs" : "cannot-run",
                        reinterpret_cast<void *>(impl->add.function),
                        reinterpret_cast<void *>(impl->tostereo.function),
                        reinterpret_cast<void *>(impl->lin2adcpm.function),
                        reinterpret_cast<void *>(impl->adcpm2lin.function),
                        reinterpret_cast<void *>(impl->ratecv.function));
        return 0;
    }
    if (argc != 6 && argc != 7) return usage();
    const Implementation *impl = nullptr;
    for (const Implementation *t : samplekit::compiled)
        if (std::string_view(argv[1]) == t->name) impl = t;
    const std::string_view routine = argv[2];
    const int width = std::atoi(argv[3]);
    const int channels = std::atoi(argv[4]);
    const auto n = static_cast<std::size_t>(std::strtoull(argv[5], nullptr, 10));
    const int weight_prev = argc == 7 ? std::atoi(argv[6]) : 0;
    if (!impl || width < 1 || width > 4 || channels < 1 || n == 0) return usage();
    if (!samplekit::runs_here(*impl)) {
        std::fprintf(stderr, "%s needs %s, which this processor lacks\n", impl->name,
                     impl->needs);
        return 77;
    }
    const auto w = static_cast<std::size_t>(width);

    std::vector<unsigned char> out;
    std::size_t samples = n;
    if (routine == "add") {
        auto a = noise(n * w, 1), b = noise(n * w, 2);
        out.resize(n * w);
        kivo_count_begin();
        impl->add(chars(out), chars(a), chars(b), n * w, width);
        kivo_count_end();
    } else if (routine == "tostereo") {
        auto in = noise(n * w, 1);
        out.resize(2 * n * w);
        kivo_count_begin();
        impl->tostereo(chars(out), chars(in), n * w, width, 0.8, -0.6);
        kivo_count_end();
    } else if (routine == "lin2adcpm") {
        auto in = noise(n * w, 1);
        out.resize(n / 2 + 1);
        int state[2] = {0, 0};
        kivo_count_begin();
        impl->lin2adcpm(out.data(), in.data(), n * w, w, state);
        kivo_count_end();
    } else if (routine == "adcpm2lin") {
        auto in = noise(n / 2, 1);
        samples = n / 2 * 2;
        out.resize(samples * w);
        int state[2] = {0, 0};
        kivo_count_begin();
        impl->adcpm2lin(out.data(), in.data(), n / 2, w, state);
        kivo_count_end();
    } else if (routine == "ratecv") {
        const int rate_in = 44100, rate_out = 48000;
        const std::size_t nframes = n / static_cast<std::size_t>(channels);
        const std::size_t frame = w * static_cast<std::size_t>(channels);
        auto in = noise(nframes * frame, 1);
        int phase = -(rate_out / samplekit::gcd(rate_in, rate_out));
        const std::int64_t frames =
            samplekit::ratecv_output_frames(phase, nframes, rate_in, rate_out);
        out.resize(static_cast<std::size_t>(frames) * frame);
        std::vector<int> previous(static_cast<std::size_t>(channels));
        std::vector<int> current(previous.size());
        kivo_count_begin();
        const int bytes = impl->ratecv(chars(out), chars(in), nframes, width, channels,
                                         rate_in, rate_out, &phase, previous.data(),
                                         current.data(), 1, weight_prev);
        kivo_count_end();
        samples = static_cast<std::size_t>(bytes) / w;   // frames written times channels
    } else {
        return usage();
    }
    std::printf("samples %zu checksum %016llx\n", samples,
                static_cast<unsigned long long>(checksum(out)));
    return 0;
}
