// Many threads calling every routine at once, each on buffers and state of
// its own, get the bytes that one thread gets. Built with ThreadSanitizer,
// which also reports any write that two calls share.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "samplekit_decls.h"

namespace {

using Bytes = std::vector<unsigned char>;

void append(Bytes &all, const void *data, std::size_t size) {
    const auto *p = static_cast<const unsigned char *>(data);
    all.insert(all.end(), p, p + size);
}

// Every routine at every width over one input made from `seed`; everything
// the calls return, write or carry, back to back.
Bytes run_all(unsigned seed) {
    std::mt19937 rng(seed);
    Bytes input(4096), other(4096);
    for (auto &b : input) b = static_cast<unsigned char>(rng());
    for (auto &b : other) b = static_cast<unsigned char>(rng());
    Bytes all;
    for (int v = -32768; v < 32768; v += 7) {
        const auto x = static_cast<short>(v);
        const unsigned char codes[2] = {st_14linear2ulaw(x), st_linear2alaw(x)};
        const short back[2] = {st_ulaw2linear16(codes[0]), st_alaw2linear16(codes[1])};
        append(all, codes, sizeof codes);
        append(all, back, sizeof back);
    }
    char *in = reinterpret_cast<char *>(input.data());
    char *in2 = reinterpret_cast<char *>(other.data());
    for (int width = 1; width <= 4; ++width) {
        const auto w = static_cast<std::size_t>(width);
        Bytes sum(input.size()), stereo(2 * input.size());
        add(reinterpret_cast<char *>(sum.data()), in, in2, input.size(), width);
        tostereo(reinterpret_cast<char *>(stereo.data()), in, input.size(), width, 0.7, -1.3);
        append(all, sum.data(), sum.size());
        append(all, stereo.data(), stereo.size());

        int enc_state[2] = {static_cast<int>(rng() % 1000), 10};
        int dec_state[2] = {0, 0};
        Bytes codes(input.size() / w / 2), pcm(codes.size() * 2 * w);
        lin2adcpm(codes.data(), input.data(), input.size(), w, enc_state);
        adcpm2lin(pcm.data(), codes.data(), codes.size(), w, dec_state);
        append(all, codes.data(), codes.size());
        append(all, pcm.data(), pcm.size());
        append(all, enc_state, sizeof enc_state);
        append(all, dec_state, sizeof dec_state);

        // Stereo 44100 to 48000 in pieces, the state carried.
        int phase = 0, previous[2] = {0, 0}, current[2] = {0, 0};
        const std::size_t frame = 2 * w, frames = input.size() / frame;
        Bytes out(frames * frame * 2 + 2 * frame);
        std::size_t done = 0, at = 0;
        while (done < frames) {
            const std::size_t piece = std::min<std::size_t>(frames - done, 37);
            at += static_cast<std::size_t>(ratecv(reinterpret_cast<char *>(out.data() + at),
                                                  in + done * frame, piece, width, 2, 44100,
                                                  48000, &phase, previous, current, 1, 1));
            done += piece;
        }
        append(all, out.data(), at);
        append(all, &phase, sizeof phase);
        append(all, previous, sizeof previous);
        append(all, current, sizeof current);
    }
    return all;
}

}  // namespace

int main() {
    constexpr unsigned kThreads = 16;
    constexpr int kRounds = 16;
    std::vector<Bytes> expected;
    for (unsigned t = 0; t < kThreads; ++t) expected.push_back(run_all(t));

    std::atomic<int> passed{0}, failed{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &expected, &passed, &failed] {
            for (int round = 0; round < kRounds; ++round)
                (run_all(t) == expected[t] ? passed : failed)++;
        });
    }
    for (auto &thread : threads) thread.join();
    std::printf("threads: %d passed, %d failed\n", passed.load(), failed.load());
    return failed == 0 && passed == static_cast<int>(kThreads) * kRounds ? 0 : 1;
}
