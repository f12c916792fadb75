/* The navigation program's stand-in (outside the system). */
#pragma once

#include "plat/host.h"

namespace sim {

/* Registers \sdmmc\Navi\Navi.exe as a device program and the console
 * commands `navi start [TITLE]` and `navi stop`. */
void navi_attach(const plat::HostOptions& options);

}  // namespace sim
