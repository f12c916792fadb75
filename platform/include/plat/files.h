/* Placeholder: this role of the platform is not written yet. */
#pragma once
#include "plat/wintypes.h"
