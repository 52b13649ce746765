// No features beyond the baseline are known where an architecture folder does
// not answer for its own.
#include "core/processor.h"

bool samplekit::processor_has(std::string_view) { return false; }
