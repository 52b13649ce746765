// What the unit tests of the fragment routines share: tests run once for
// every implementation table this processor runs, and the caller's buffers
// of the comparisons between forms.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "runnable.h"

namespace kivo_tests {

// A test of one form: TEST_P(Suite, Name) with Suite derived from EveryForm
// runs for every table, its name ending with the table's.
class EveryForm : public ::testing::TestWithParam<const Implementation *> {
protected:
    const Implementation &impl() const { return *GetParam(); }
};

inline std::string form_name(const ::testing::TestParamInfo<const Implementation *> &info) {
    std::string name = info.param->name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

#define KIVO_FOR_EVERY_FORM(Suite)                                                       \
    INSTANTIATE_TEST_SUITE_P(Tables, Suite, ::testing::ValuesIn(kivo_tests::runnable()), \
                             kivo_tests::form_name)

inline std::mt19937 &buffer_rng() {
    static std::mt19937 rng(13);
    return rng;
}

inline int pick(int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(buffer_rng());
}

// A caller's buffer at a random offset 0..63 from a 64-byte boundary, its
// allocation ending with it, so that the sanitizers see any access beyond:
// n random bytes, or the given ones.
class Buffer {
public:
    explicit Buffer(std::size_t n) : offset_(static_cast<std::size_t>(pick(0, 63))), n_(n) {
        base_ = static_cast<unsigned char *>(::operator new(offset_ + n, std::align_val_t{64}));
        for (std::size_t k = 0; k < n; ++k) data()[k] = static_cast<unsigned char>(buffer_rng()());
    }
    explicit Buffer(const std::vector<unsigned char> &bytes) : Buffer(bytes.size()) {
        if (!bytes.empty()) std::memcpy(data(), bytes.data(), n_);
    }
    Buffer(const Buffer &other) : Buffer(other.n_) { std::memcpy(data(), other.data(), n_); }
    Buffer &operator=(const Buffer &) = delete;
    ~Buffer() { ::operator delete(base_, std::align_val_t{64}); }
    unsigned char *data() const { return base_ + offset_; }
    char *chars() const { return reinterpret_cast<char *>(data()); }
    std::vector<unsigned char> bytes() const { return {data(), data() + n_}; }

private:
    std::size_t offset_, n_;
    unsigned char *base_;
};

// The widths (unusable ones included) and the lengths, past several blocks of
// every kernel, that the comparisons take.
inline constexpr int kWidths[] = {0, 1, 2, 3, 4, 5};
inline constexpr std::size_t kMaxLen = 200;

}  // namespace kivo_tests
