// The layout checks of a Windows tclbridge that binds Tcl 8.5, against
// whichever tcl.h comes first on the include path.
#define KIVO_TCLTK_VERSION "8.5"
#include <tcl.h>

#include "tcl_layout.h"
