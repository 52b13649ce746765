// For the tests and benchmarks, never the module: whether this processor has
// the features an implementation needs (Implementation::needs), so that a
// table is only run where it can run. Each architecture folder that has
// tables with needs answers for its own feature names; elsewhere nothing
// beyond the baseline is known.
#pragma once

#include <string_view>

#include "core/implementation.h"

namespace samplekit {

bool processor_has(std::string_view feature);

// Every feature of impl.needs (space-separated) is there.
inline bool runs_here(const Implementation &impl) {
    std::string_view needs = impl.needs;
    while (!needs.empty()) {
        const auto end = needs.find(' ');
        const std::string_view feature = needs.substr(0, end);
        if (!feature.empty() && !processor_has(feature)) return false;
        if (end == std::string_view::npos) break;
        needs.remove_prefix(end + 1);
    }
    return true;
}

}  // namespace samplekit
