// Counting and the temporary name live in pack/prepare.h, beside the build
// steps that use them; this name stays for the Maker's window code.
#ifndef VEZOVUD_MAKER_PREPARE_H
#define VEZOVUD_MAKER_PREPARE_H

#include "pack/prepare.h"

#endif
