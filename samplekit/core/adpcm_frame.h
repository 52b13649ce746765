// The IMA ADPCM coder's tables, its per-sample steps and the frame of a call
// (the state taken at entry and written back, the width checked), shared by
// every form of the coder: 4-bit codes at 16-bit precision, with the
// predicted value and the step index carried by the caller.
#pragma once

#include <cstddef>

namespace samplekit::adpcm {

// The tables are data, which every file may share; the code below stays
// internal to each file.

// Added to the step index after each code; indexed by the whole code, so the
// sign bit does not matter.
inline constexpr int adpcm_index_adjust[16] = {-1, -1, -1, -1, 2, 4, 6, 8,
                                        -1, -1, -1, -1, 2, 4, 6, 8};

// Quantiser step for each step index.
inline constexpr int adpcm_step_sizes[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,
    19,    21,    23,    25,    28,    31,    34,    37,    41,    45,
    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,
    337,   371,   408,   449,   494,   544,   598,   658,   724,   796,
    876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,
    5894,  6484,  7132,  7845,  8630,  9493,  10442, 11487, 12635, 13899,
    15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

namespace {

inline constexpr int kLastStepIndex = 88;
static_assert(sizeof adpcm_step_sizes / sizeof adpcm_step_sizes[0] ==
              kLastStepIndex + 1);

// The largest prediction step: S + S/2 + S/4 + S/8 at the largest S.
inline constexpr int kMaxDelta = 32767 + (32767 >> 1) + (32767 >> 2) + (32767 >> 3);

// A predicted value from the caller may lie anywhere in int. Beyond this bound
// every sample codes to the largest step towards the 16-bit range (the
// difference exceeds S + S/2 + S/4 for any S) and the new value still lands
// outside the range, so it saturates: such values code exactly as the bound
// does. Clamping to it keeps the first difference and update within int.
inline constexpr int kPredictedBound = 1 << 17;
static_assert(kPredictedBound - 32768 >= 32767 + (32767 >> 1) + (32767 >> 2));
static_assert(kPredictedBound - kMaxDelta > 32767);

inline constexpr int clamp_step_index(int index) {
    return index < 0 ? 0 : (index > kLastStepIndex ? kLastStepIndex : index);
}

inline constexpr int clamp16(int value) {
    return value < -32768 ? -32768 : (value > 32767 ? 32767 : value);
}

struct Coder {
    int predicted;
    int step_index;
    int step;   // adpcm_step_sizes[step_index]
};

// A step index outside the table is clamped on entry rather than trusted.
inline Coder coder_at_entry(const int *state) {
    Coder c;
    const int predicted = state[0];
    c.predicted = predicted < -kPredictedBound  ? -kPredictedBound
                  : predicted > kPredictedBound ? kPredictedBound
                                                : predicted;
    c.step_index = clamp_step_index(state[1]);
    c.step = adpcm_step_sizes[c.step_index];
    return c;
}

// After at least one sample the predicted value is a 16-bit one; with nothing
// coded the caller's value goes back as it came.
inline void write_back(int *state, const Coder &c, bool coded) {
    if (coded) state[0] = c.predicted;
    state[1] = c.step_index;
}

// Quantises value - predicted to a code and moves the coder on by it, with
// the same terms the decoder will add, so both track the same prediction.
// The residual of a working coder is close to random, so the three
// comparisons are turned into masks rather than branches.
inline unsigned encode_sample(Coder &c, int value) {
    int diff = value - c.predicted;
    const int negative = diff >> 31;   // all ones below zero
    diff = (diff ^ negative) - negative;
    const int step = c.step;
    const int half = step >> 1;
    const int quarter = half >> 1;   // step >> 2
    const int take_step = -static_cast<int>(diff >= step);
    diff -= step & take_step;
    const int take_half = -static_cast<int>(diff >= half);
    diff -= half & take_half;
    const int take_quarter = -static_cast<int>(diff >= quarter);
    const int delta = (step >> 3) + (step & take_step) + (half & take_half) +
                      (quarter & take_quarter);
    c.predicted = clamp16(c.predicted + ((delta ^ negative) - negative));
    const auto code = static_cast<unsigned>((negative & 8) | (take_step & 4) |
                                            (take_half & 2) | (take_quarter & 1));
    c.step_index = clamp_step_index(c.step_index + adpcm_index_adjust[code]);
    c.step = adpcm_step_sizes[c.step_index];
    return code;
}

inline void decode_code(Coder &c, unsigned code) {
    const int step = c.step;
    c.step_index = clamp_step_index(c.step_index + adpcm_index_adjust[code]);
    int delta = step >> 3;
    if (code & 4) delta += step;
    if (code & 2) delta += step >> 1;
    if (code & 1) delta += step >> 2;
    c.predicted = clamp16((code & 8) ? c.predicted - delta : c.predicted + delta);
    c.step = adpcm_step_sizes[c.step_index];
}

// dispatch_width takes a signed width; a size_t above 4 must not be able to
// wrap onto 1..4 on the way.
inline constexpr long long checked_width(std::size_t width) {
    return width <= 4 ? static_cast<long long>(width) : 0;
}

}  // namespace
}  // namespace samplekit::adpcm
