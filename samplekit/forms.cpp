// What the module ships, as text compiled into an object file for the
// release's manifest: the shipped table's name and the kind of each of its
// forms, as one JSON object after the marker. tools/release.py reads it from
// the object with the target's own compiler having built it; it is never
// linked into a module or run.
#include <array>
#include <cstddef>

#include "implementations.h"

namespace {

constexpr const samplekit::Implementation &table = samplekit::shipped;

// The text's pieces: marker, JSON punctuation and names, in order.
constexpr const char *pieces[] = {
    "KIVO-SHIPPED-FORMS{\"table\": \"", table.name,
    "\", \"add\": \"", table.add.kind,
    "\", \"tostereo\": \"", table.tostereo.kind,
    "\", \"lin2adcpm\": \"", table.lin2adcpm.kind,
    "\", \"adcpm2lin\": \"", table.adcpm2lin.kind,
    "\", \"ratecv\": \"", table.ratecv.kind, "\"}"};

constexpr std::size_t text_length() {
    std::size_t n = 1;   // the closing zero
    for (const char *piece : pieces)
        for (const char *c = piece; *c; ++c) ++n;
    return n;
}

constexpr std::array<char, text_length()> text() {
    std::array<char, text_length()> out{};
    std::size_t n = 0;
    for (const char *piece : pieces)
        for (const char *c = piece; *c; ++c) out[n++] = *c;
    return out;
}

}  // namespace

extern const std::array<char, text_length()> kivo_shipped_forms;
const std::array<char, text_length()> kivo_shipped_forms = text();
