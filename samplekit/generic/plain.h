// The plain forms of the fragment routines: one sample at a time, portable
// C++ with nothing of any instruction set. They build for every target, ship
// wherever an architecture has no faster form of a routine, and are what the
// tests compare every faster form with. They are compiled without automatic
// vectorisation, so that "N times the plain form" means that.
#pragma once

#include "core/implementation.h"

namespace samplekit {

namespace generic {
declared::add add;
declared::tostereo tostereo;
declared::lin2adcpm lin2adcpm;
declared::adcpm2lin adcpm2lin;
declared::ratecv ratecv;
}  // namespace generic

inline constexpr Implementation plain{"plain",
                                      "",
                                      {generic::add, "plain"},
                                      {generic::tostereo, "plain"},
                                      {generic::lin2adcpm, "plain"},
                                      {generic::adcpm2lin, "plain"},
                                      {generic::ratecv, "plain"}};

}  // namespace samplekit
