// The implementations a test program runs: every table the build compiled
// that this processor runs. A program that leaves one out says so and exits
// 77, skipped, so that its runner can start it again under an emulator that
// runs them all (tools/target-run.sh).
#pragma once

#include <cstdio>
#include <vector>

#include "core/processor.h"
#include "implementations.h"

namespace kivo_tests {

using samplekit::Implementation;

// With the plain table or without it, which the others are compared with.
inline std::vector<const Implementation *> runnable(bool with_plain = true) {
    std::vector<const Implementation *> tables;
    for (const Implementation *impl : samplekit::compiled)
        if (samplekit::runs_here(*impl) && (with_plain || impl != &samplekit::plain))
            tables.push_back(impl);
    return tables;
}

inline auto faster_forms() { return runnable(false); }

// One line for each table left out; the exit status that says whether the
// program tested everything (0) or left something out (77).
inline int report_left_out() {
    int status = 0;
    for (const Implementation *impl : samplekit::compiled)
        if (!samplekit::runs_here(*impl)) {
            std::printf("left out: %s, which needs %s: this processor lacks some of it\n",
                        impl->name, impl->needs);
            status = 77;
        }
    return status;
}

}  // namespace kivo_tests
