#pragma once

// glib names a structure member "signals", which Qt defines as a macro; the libvips headers are
// therefore read with the macro switched off, whatever was included before.
#pragma push_macro("signals")
#undef signals
#include <vips/vips.h>
#pragma pop_macro("signals")
