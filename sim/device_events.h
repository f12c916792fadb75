/* Events of the simulated device that come from hooks of the platform and of
 * the page manager rather than from a stand-in program. */
#pragma once

namespace sim {

/* The page manager's observer: writes {"ev":"page","id":N}. */
void page_event(int id);
/* The GPS wiring's observer: writes {"ev":"gps","status":"A","fix":true}
 * whenever the record's status changes (fix: status 'A'). */
void gps_event(char status);
/* Writes a `window` event (title, action: show, hide, top, foreground)
 * whenever a window changes state. Registered once. */
void window_events_attach();

}  // namespace sim
