/* The call's audio as the capture device hears it (outside the system): the
 * console commands `audio FILE`, `dtmf MESSAGE [level=DBFS] [tone=MS]
 * [gap=MS] [snr=DB] [twist=DB]` (each value bounded as veldtmf's) and
 * `speech TEXT`, each returning once its audio has been delivered to the
 * device. */
#pragma once

#include "plat/host.h"

namespace sim {

void call_audio_attach(const plat::HostOptions& options);

}  // namespace sim
