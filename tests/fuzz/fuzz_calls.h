// One call per fuzz target, arguments from the input (fuzz_calls.cpp).
#pragma once

#include "fuzz_input.h"

namespace fuzz {

void check_add(Input &in);
void check_tostereo(Input &in);
void check_lin2adcpm(Input &in);
void check_adcpm2lin(Input &in);
void check_ratecv(Input &in);

}  // namespace fuzz
