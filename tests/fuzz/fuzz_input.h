// Arguments of a routine call, decoded from a fuzzer's input, and the
// caller-owned buffers they describe.
//
// Every buffer is a heap block of its own, of exactly the size a caller would
// pass, so that a read or write one byte outside it is caught. Values are
// taken from the front of the input, little end first; an input that runs
// out gives zeros. Integers are drawn either from a small range that reaches
// the routines' work (most inputs) or raw, so that the unusable values reach
// every refusal path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace fuzz {

// The largest buffer the harness allocates, in bytes.
inline constexpr std::size_t kMaxBytes = 1 << 14;

// Stops the run with a message the fuzzer keeps beside the input.
[[noreturn]] inline void fail(const char *what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void expect(bool ok, const char *what) {
    if (!ok) fail(what);
}

// A caller-owned buffer: an exact-size heap block.
class Block {
public:
    explicit Block(std::size_t size) : data_(new unsigned char[size]), size_(size) {}
    Block(const Block &other) : Block(other.size_) { std::memcpy(get(), other.get(), size_); }
    Block &operator=(const Block &) = delete;

    unsigned char *get() const { return data_.get(); }
    char *chars() const { return reinterpret_cast<char *>(data_.get()); }
    std::size_t size() const { return size_; }
    void fill(unsigned char value) { std::memset(get(), value, size_); }
    bool operator==(const Block &other) const {
        return size_ == other.size_ && std::memcmp(get(), other.get(), size_) == 0;
    }
    // Every byte from `from` on equals `value`.
    bool all_from(std::size_t from, unsigned char value) const {
        for (std::size_t i = from; i < size_; ++i)
            if (data_[i] != value) return false;
        return true;
    }

private:
    std::unique_ptr<unsigned char[]> data_;
    std::size_t size_;
};

class Input {
public:
    Input(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    std::uint64_t bits(int bytes) {
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= std::uint64_t{next()} << (8 * i);
        return v;
    }
    int any_int() { return static_cast<int>(static_cast<std::uint32_t>(bits(4))); }
    double any_double() {
        const std::uint64_t b = bits(8);
        double d;
        std::memcpy(&d, &b, sizeof d);
        return d;
    }
    // Mostly lo to hi; one input in eight takes any int.
    int small_or_any(int lo, int hi) {
        const unsigned selector = next();
        const auto value = static_cast<std::uint32_t>(bits(4));
        if (selector % 8 == 7) return static_cast<int>(value);
        return lo + static_cast<int>(value % static_cast<std::uint32_t>(hi - lo + 1));
    }
    // A sample width: mostly 1 to 4, else 0, 5, negative or extreme.
    int width() {
        static constexpr int kOdd[] = {0, 5, -1, -4, INT32_MIN, INT32_MAX, 8, -2};
        const unsigned selector = next();
        if (selector < 200) return 1 + static_cast<int>(selector % 4);
        if (selector < 248) return kOdd[selector % 8];
        return any_int();
    }
    // A width passed as size_t: also values that would be 1 to 4 if they were
    // cut to 32 bits.
    std::size_t size_width() {
        const unsigned selector = next();
        if (selector < 200) return 1 + selector % 4;
        if (selector < 224 && sizeof(std::size_t) > 4)
            return static_cast<std::size_t>((std::uint64_t{1} << 32) + 1 + selector % 4);
        if (selector < 240) return static_cast<std::size_t>(width());
        return static_cast<std::size_t>(bits(sizeof(std::size_t)));
    }
    // A byte count up to `cap`.
    std::size_t length(std::size_t cap) {
        return static_cast<std::size_t>(bits(2)) % (cap + 1);
    }
    // An exact-size block filled from the input.
    Block block(std::size_t size) {
        Block b(size);
        for (std::size_t i = 0; i < size; ++i) b.get()[i] = next();
        return b;
    }
    unsigned choice(unsigned n) { return next() % n; }

private:
    std::uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }

    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace fuzz
