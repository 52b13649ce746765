// An implementation of the fragment routines is a value: one constant table
// holding a form of each routine. The plain forms make one (generic/), each
// architecture folder its own, and the module's entries call the table the
// build ships. Every entry of a table has the type the declaration list gives
// the routine, so the compiler checks each form's signature against it.
#pragma once

#include "samplekit_decls.h"

namespace samplekit {

// One form of a routine: its function, and what kind of code it is ("plain",
// "sse2", ...), which the tests and the release's manifest report.
template <typename Function>
struct Form;

template <typename R, typename... A>
struct Form<R(A...)> {
    R (*function)(A...);
    const char *kind;

    R operator()(A... args) const { return function(args...); }
};

struct Implementation {
    const char *name;
    // Processor features the table needs beyond the target's baseline, as
    // the processor's feature list names them ("" for none).
    const char *needs;
    Form<declared::add> add;
    Form<declared::tostereo> tostereo;
    Form<declared::lin2adcpm> lin2adcpm;
    Form<declared::adcpm2lin> adcpm2lin;
    Form<declared::ratecv> ratecv;
};

}  // namespace samplekit
