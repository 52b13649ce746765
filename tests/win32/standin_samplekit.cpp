// The stand-in host on _samplekit: the context against the declaration
// list, then each routine called through its direct-call entry on every
// worked case of the shared tables and, on random fragments, against the
// same routine linked into this program (so every argument of every entry
// is seen to arrive).
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <random>
#include <vector>

#include "standin.h"

#include "expected_samplekit.h"
#include "generic/plain.h"
#include "samplekit_decls.h"
#include "worked_cases.h"

namespace standin {
namespace {

using Bytes = std::vector<unsigned char>;

template <typename F>
F entry_of(const Module &m, const char *name, F) {
    return m.function<F>(name);
}
#define ENTRY(m, name) entry_of(m, #name, &name)

char *chars(Bytes &b) { return reinterpret_cast<char *>(b.data()); }

// Samples of the width, least significant byte first.
Bytes samples(int width, std::initializer_list<long long> values) {
    Bytes b;
    for (long long v : values)
        for (int k = 0; k < width; ++k)
            b.push_back(static_cast<unsigned char>(static_cast<unsigned long long>(v) >> (8 * k)));
    return b;
}

Bytes random_bytes(std::mt19937 &rng, std::size_t n) {
    Bytes b(n);
    for (auto &x : b) x = static_cast<unsigned char>(rng());
    return b;
}

void g711(const Module &m) {
    const auto ulaw = ENTRY(m, st_14linear2ulaw);
    const auto alaw = ENTRY(m, st_linear2alaw);
    const auto ulaw_dec = ENTRY(m, st_ulaw2linear16);
    const auto alaw_dec = ENTRY(m, st_alaw2linear16);
    if (!ulaw || !alaw || !ulaw_dec || !alaw_dec) return;
    for (const auto &d : worked_cases::g711_decode) {
        const auto code = static_cast<unsigned char>(d.code);
        STANDIN_CHECK(ulaw_dec(code) == d.ulaw);
        STANDIN_CHECK(alaw_dec(code) == d.alaw);
    }
    for (const auto &r : worked_cases::ulaw_encode)
        for (int x = r.from; x <= r.to; ++x) STANDIN_CHECK(ulaw(static_cast<PyInt16>(x)) == r.code);
    for (const auto &r : worked_cases::alaw_encode)
        for (int x = r.from; x <= r.to; ++x) STANDIN_CHECK(alaw(static_cast<PyInt16>(x)) == r.code);
    int differ = 0;
    for (int x = -32768; x <= 32767; ++x) {
        const auto s = static_cast<PyInt16>(x);
        differ += ulaw(s) != st_14linear2ulaw(s);
        differ += alaw(s) != st_linear2alaw(s);
    }
    for (int c = 0; c < 256; ++c) {
        const auto code = static_cast<unsigned char>(c);
        differ += ulaw_dec(code) != st_ulaw2linear16(code);
        differ += alaw_dec(code) != st_alaw2linear16(code);
    }
    STANDIN_CHECK(differ == 0);
}

void adpcm(const Module &m) {
    const auto encode = ENTRY(m, lin2adcpm);
    const auto decode = ENTRY(m, adcpm2lin);
    if (!encode || !decode) return;
    // One row through an entry: the output with guard bytes after it, which
    // must stay, and the end state.
    auto check_row = [](auto coder, worked_cases::Bytes input, worked_cases::Bytes output,
                        int width, const int (&start)[2], const int (&end)[2]) {
        Bytes in(input.begin(), input.end()), out(output.size + 4, 0xAA);
        int state[2] = {start[0], start[1]};
        coder(out.data(), in.data(), in.size(), static_cast<std::size_t>(width), state);
        Bytes expected(output.begin(), output.end());
        expected.resize(out.size(), 0xAA);
        STANDIN_CHECK(out == expected);
        STANDIN_CHECK(state[0] == end[0] && state[1] == end[1]);
    };
    for (const auto &c : worked_cases::adpcm_encode)
        check_row(encode, c.samples, c.codes, c.width, {c.start_predicted, c.start_index},
                  {c.end_predicted, c.end_index});
    for (const auto &c : worked_cases::adpcm_decode)
        check_row(decode, c.codes, c.out, c.width, {c.start_predicted, c.start_index},
                  {c.end_predicted, c.end_index});

    std::mt19937 rng(1);
    for (std::size_t width = 1; width <= 4; ++width) {
        const Bytes frag = random_bytes(rng, 64 * width + width);
        const int start[2] = {static_cast<int>(rng() % 65536) - 32768,
                              static_cast<int>(rng() % 89)};
        Bytes a(frag.size()), b(frag.size());
        int sa[2] = {start[0], start[1]}, sb[2] = {start[0], start[1]};
        Bytes fa = frag, fb = frag;
        encode(a.data(), fa.data(), fa.size(), width, sa);
        lin2adcpm(b.data(), fb.data(), fb.size(), width, sb);
        STANDIN_CHECK(a == b && sa[0] == sb[0] && sa[1] == sb[1]);
        Bytes da(frag.size() * 2 * width), db(da.size());
        int ta[2] = {start[0], start[1]}, tb[2] = {start[0], start[1]};
        decode(da.data(), fa.data(), fa.size(), width, ta);
        adcpm2lin(db.data(), fb.data(), fb.size(), width, tb);
        STANDIN_CHECK(da == db && ta[0] == tb[0] && ta[1] == tb[1]);
    }
}

void mix(const Module &m) {
    const auto add_entry = ENTRY(m, add);
    const auto tostereo_entry = ENTRY(m, tostereo);
    if (!add_entry || !tostereo_entry) return;
    for (const auto &c : worked_cases::add) {
        Bytes x = samples(c.width, {c.x, c.y}), y = samples(c.width, {c.y, c.x});
        Bytes sum(x.size(), 0xAA);
        add_entry(chars(sum), chars(x), chars(y), sum.size(), c.width);
        STANDIN_CHECK(sum == samples(c.width, {c.sum, c.sum}));
    }
    for (const auto &c : worked_cases::tostereo) {
        Bytes mono = samples(c.width, {c.sample}), stereo(2 * mono.size(), 0xAA);
        tostereo_entry(chars(stereo), chars(mono), mono.size(), c.width, c.lgain, c.rgain);
        STANDIN_CHECK(stereo == samples(c.width, {c.left, c.right}));
    }

    std::mt19937 rng(2);
    for (int width = 1; width <= 4; ++width) {
        const auto w = static_cast<std::size_t>(width);
        Bytes a = random_bytes(rng, 200 * w), b = random_bytes(rng, 200 * w);
        Bytes o1(a.size()), o2(a.size());
        add_entry(chars(o1), chars(a), chars(b), a.size(), width);
        add(chars(o2), chars(a), chars(b), a.size(), width);
        STANDIN_CHECK(o1 == o2);
        const double gains[][2] = {{0.7, -1.3}, {2.5, 0.0}, {-0.25, 1e10}};
        for (const auto &g : gains) {
            Bytes s1(2 * a.size()), s2(2 * a.size());
            tostereo_entry(chars(s1), chars(a), a.size(), width, g[0], g[1]);
            tostereo(chars(s2), chars(a), a.size(), width, g[0], g[1]);
            STANDIN_CHECK(s1 == s2);
        }
    }
}

void rate_conversion(const Module &m) {
    const auto entry = ENTRY(m, ratecv);
    if (!entry) return;
    for (const auto &c : worked_cases::ratecv) {
        Bytes in(c.in.begin(), c.in.end()), out(c.out.size + 4, 0xAA);
        in.push_back(0);   // data() of an empty input still points somewhere
        const std::size_t nframes = c.in.size / static_cast<std::size_t>(c.width * c.channels);
        int phase = c.phase;
        std::vector<int> previous(c.previous.begin(), c.previous.end());
        std::vector<int> current(c.current.begin(), c.current.end());
        const int written = entry(chars(out), chars(in), nframes, c.width, c.channels, c.rate_in,
                                  c.rate_out, &phase, previous.data(), current.data(),
                                  c.weight_new, c.weight_prev);
        Bytes expected(c.out.begin(), c.out.end());
        expected.resize(out.size(), 0xAA);
        STANDIN_CHECK(written == static_cast<int>(c.out.size) && out == expected);
        STANDIN_CHECK(phase == c.end_phase);
        STANDIN_CHECK(previous == std::vector<int>(c.end_previous.begin(), c.end_previous.end()));
        STANDIN_CHECK(current == std::vector<int>(c.end_current.begin(), c.end_current.end()));
    }

    std::mt19937 rng(3);
    for (int width = 1; width <= 4; ++width) {
        for (int channels = 1; channels <= 3; ++channels) {
            const auto frame = static_cast<std::size_t>(width * channels);
            const std::size_t nframes = 50;
            Bytes frag = random_bytes(rng, nframes * frame);
            const int rate_in = 8000 + static_cast<int>(rng() % 40000);
            const int rate_out = 8000 + static_cast<int>(rng() % 40000);
            const int weight_new = 1 + static_cast<int>(rng() % 5);
            const int weight_prev = static_cast<int>(rng() % 5);
            // At most nframes * rate_out / gcd / (rate_in / gcd) + 1 frames.
            Bytes o1((nframes * 6 + 2) * frame, 0x5A), o2(o1.size(), 0x5A);
            int p1 = -1, p2 = -1;
            std::vector<int> prev1(static_cast<std::size_t>(channels)), cur1(prev1.size());
            std::vector<int> prev2(prev1.size()), cur2(prev1.size());
            const int r1 = entry(chars(o1), chars(frag), nframes, width, channels, rate_in,
                                 rate_out, &p1, prev1.data(), cur1.data(), weight_new,
                                 weight_prev);
            const int r2 = ratecv(chars(o2), chars(frag), nframes, width, channels, rate_in,
                                  rate_out, &p2, prev2.data(), cur2.data(), weight_new,
                                  weight_prev);
            STANDIN_CHECK(r1 == r2 && r1 > 0 && o1 == o2 && p1 == p2);
            STANDIN_CHECK(prev1 == prev2 && cur1 == cur2);
        }
    }
}

}  // namespace

void check_samplekit(const Module &m) {
    check_context(m, expected_samplekit::globals,
                  static_cast<int>(sizeof expected_samplekit::globals /
                                   sizeof expected_samplekit::globals[0]),
                  expected_samplekit::typenames, expected_samplekit::num_typenames,
                  expected_samplekit::function_runs);
    // No struct or union, hence no fields.
    STANDIN_CHECK(m.context->num_struct_unions == 0 && m.context->fields == nullptr);
    g711(m);
    adpcm(m);
    mix(m);
    rate_conversion(m);
}

namespace {

// The best of 20 runs of f, in nanoseconds per unit of work.
template <typename F>
double best_ns(double units, F &&f) {
    LARGE_INTEGER frequency, start, stop;
    QueryPerformanceFrequency(&frequency);
    double best = 1e300;
    for (int run = 0; run < 20; ++run) {
        QueryPerformanceCounter(&start);
        f();
        QueryPerformanceCounter(&stop);
        const double ns = static_cast<double>(stop.QuadPart - start.QuadPart) * 1e9 /
                          static_cast<double>(frequency.QuadPart);
        if (ns < best) best = ns;
    }
    return best / units;
}

}  // namespace

void time_samplekit(const Module &m) {
    const auto add_entry = ENTRY(m, add);
    const auto tostereo_entry = ENTRY(m, tostereo);
    const auto encode = ENTRY(m, lin2adcpm);
    const auto decode = ENTRY(m, adcpm2lin);
    const auto convert = ENTRY(m, ratecv);
    if (!add_entry || !tostereo_entry || !encode || !decode || !convert) return;
    std::mt19937 rng(1);
    constexpr std::size_t kBytes = 64 * 1024, kSamples = kBytes / 2;
    Bytes a = random_bytes(rng, kBytes), b = random_bytes(rng, kBytes), out(4 * kBytes);
    int state[2] = {0, 0};
    std::printf("ns per sample, 16-bit samples, 64 KiB inputs: entry | plain form\n");
    auto row = [](const char *name, double entry, double plain) {
        std::printf("  %-26s %7.3f | %7.3f\n", name, entry, plain);
    };
    row("memcpy (per sample)", best_ns(kSamples, [&] { std::memcpy(out.data(), a.data(), kBytes); }),
        0.0);
    row("add", best_ns(kSamples, [&] { add_entry(chars(out), chars(a), chars(b), kBytes, 2); }),
        best_ns(kSamples, [&] {
            samplekit::plain.add(chars(out), chars(a), chars(b), kBytes, 2);
        }));
    row("tostereo (0.7, -1.3)",
        best_ns(kSamples, [&] { tostereo_entry(chars(out), chars(a), kBytes, 2, 0.7, -1.3); }),
        best_ns(kSamples, [&] {
            samplekit::plain.tostereo(chars(out), chars(a), kBytes, 2, 0.7, -1.3);
        }));
    row("lin2adcpm", best_ns(kSamples, [&] { encode(out.data(), a.data(), kBytes, 2, state); }),
        best_ns(kSamples, [&] {
            samplekit::plain.lin2adcpm(out.data(), a.data(), kBytes, 2, state);
        }));
    row("adcpm2lin (per output)",
        best_ns(2.0 * kBytes, [&] { decode(out.data(), a.data(), kBytes, 2, state); }),
        best_ns(2.0 * kBytes, [&] {
            samplekit::plain.adcpm2lin(out.data(), a.data(), kBytes, 2, state);
        }));
    // One second of 44100 Hz stereo to 48000 Hz, per output frame.
    for (int weight_prev = 0; weight_prev <= 1; ++weight_prev) {
        Bytes in = random_bytes(rng, 44100 * 4), converted(48001 * 4 + 4);
        auto run = [&](auto routine) {
            int phase = -160, previous[2] = {}, current[2] = {};
            routine(chars(converted), chars(in), 44100, 2, 2, 44100, 48000, &phase, previous,
                    current, 1, weight_prev);
        };
        row(weight_prev ? "ratecv 44.1k-48k (1, 1)" : "ratecv 44.1k-48k (1, 0)",
            best_ns(48001, [&] { run(convert); }),
            best_ns(48001, [&] { run(samplekit::plain.ratecv); }));
    }
}

}  // namespace standin
