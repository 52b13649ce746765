// The stand-in host on _samplekit: the context against the declaration
// list, then each routine called through its direct-call entry on worked
// cases and, on random fragments, against the same routine linked into this
// program (so every argument of every entry is seen to arrive).
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "standin.h"

#include "expected_samplekit.h"
#include "generic/reference.h"
#include "samplekit_decls.h"

namespace standin {
namespace {

using Bytes = std::vector<unsigned char>;

template <typename F>
F entry_of(const Module &m, const char *name, F) {
    return m.function<F>(name);
}
#define ENTRY(m, name) entry_of(m, #name, &name)

char *chars(Bytes &b) { return reinterpret_cast<char *>(b.data()); }

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
    struct Decode { int code, ulaw, alaw; };
    const Decode decodes[] = {
        {0x00, -32124, -5504}, {0x2A, -5372, -32256}, {0x55, -716, -8},
        {0x7F, 0, -848}, {0x80, 32124, 5504}, {0xD5, 716, 8}, {0xFF, 0, 848},
    };
    for (const auto &d : decodes) {
        const auto code = static_cast<unsigned char>(d.code);
        STANDIN_CHECK(ulaw_dec(code) == d.ulaw);
        STANDIN_CHECK(alaw_dec(code) == d.alaw);
    }
    struct Encode { int x, ulaw, alaw; };
    const Encode encodes[] = {
        {0, 0xFF, 0xD5}, {1000, 0xCE, 0xFA}, {-1000, 0x4E, 0x7A},
        {32767, 0x80, 0xAA}, {-32768, 0x00, 0x2A}, {-1, 0x7E, 0x55},
    };
    for (const auto &e : encodes) {
        STANDIN_CHECK(ulaw(static_cast<PyInt16>(e.x)) == e.ulaw);
        STANDIN_CHECK(alaw(static_cast<PyInt16>(e.x)) == e.alaw);
    }
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
    // 1000, -1000 from a zero state: one byte, codes 7 and 15.
    Bytes in = {0xE8, 0x03, 0x18, 0xFC}, out(2, 0xAA);
    int state[2] = {0, 0};
    encode(out.data(), in.data(), in.size(), 2, state);
    STANDIN_CHECK(out[0] == 0x7F && out[1] == 0xAA);
    STANDIN_CHECK(state[0] == -19 && state[1] == 16);
    // Codes 7, 7 at width 2: 11 then 41.
    Bytes codes = {0x77}, pcm(5, 0xAA);
    int dstate[2] = {0, 0};
    decode(pcm.data(), codes.data(), codes.size(), 2, dstate);
    STANDIN_CHECK(pcm == (Bytes{0x0B, 0x00, 0x29, 0x00, 0xAA}));
    STANDIN_CHECK(dstate[0] == 41 && dstate[1] == 16);

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
    // Saturation at width 2: 32767 + 1 and -32768 + -32768.
    Bytes x = {0xFF, 0x7F, 0x00, 0x80}, y = {0x01, 0x00, 0x00, 0x80}, sum(4, 0xAA);
    add_entry(chars(sum), chars(x), chars(y), sum.size(), 2);
    STANDIN_CHECK(sum == (Bytes{0xFF, 0x7F, 0x00, 0x80}));
    // 1000 at gains 1.0 and 0.5, -1001 likewise (truncation toward zero).
    Bytes mono = {0xE8, 0x03, 0x17, 0xFC}, stereo(8, 0xAA);
    tostereo_entry(chars(stereo), chars(mono), mono.size(), 2, 1.0, 0.5);
    STANDIN_CHECK(stereo == (Bytes{0xE8, 0x03, 0xF4, 0x01, 0x17, 0xFC, 0x0C, 0xFE}));

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
    // Doubling 100, 200, 300 (16-bit, one channel) interpolates midpoints.
    Bytes in = {100, 0, 200, 0, 44, 1, 0}, out(12, 0xAA);
    int phase = -2, previous[1] = {0}, current[1] = {0};
    const int written = entry(chars(out), chars(in), 3, 2, 1, 1, 2, &phase, previous,
                              current, 1, 0);
    STANDIN_CHECK(written == 10);
    STANDIN_CHECK(out == (Bytes{100, 0, 150, 0, 200, 0, 250, 0, 44, 1, 0xAA, 0xAA}));
    STANDIN_CHECK(phase == -1 && previous[0] == 200 * 65536 && current[0] == 300 * 65536);

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
            samplekit::reference::add(chars(out), chars(a), chars(b), kBytes, 2);
        }));
    row("tostereo (0.7, -1.3)",
        best_ns(kSamples, [&] { tostereo_entry(chars(out), chars(a), kBytes, 2, 0.7, -1.3); }),
        best_ns(kSamples, [&] {
            samplekit::reference::tostereo(chars(out), chars(a), kBytes, 2, 0.7, -1.3);
        }));
    row("lin2adcpm", best_ns(kSamples, [&] { encode(out.data(), a.data(), kBytes, 2, state); }),
        best_ns(kSamples, [&] {
            samplekit::reference::lin2adcpm(out.data(), a.data(), kBytes, 2, state);
        }));
    row("adcpm2lin (per output)",
        best_ns(2.0 * kBytes, [&] { decode(out.data(), a.data(), kBytes, 2, state); }),
        best_ns(2.0 * kBytes, [&] {
            samplekit::reference::adcpm2lin(out.data(), a.data(), kBytes, 2, state);
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
            best_ns(48001, [&] { run(samplekit::reference::ratecv); }));
    }
}

}  // namespace standin
