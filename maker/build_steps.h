// The build steps live in pack/build_steps.h, shared by the Maker's job and
// `vezovud pack`; this name stays for the Maker's flow tests.
#ifndef VEZOVUD_MAKER_BUILD_STEPS_H
#define VEZOVUD_MAKER_BUILD_STEPS_H

#include "pack/build_steps.h"

#endif
