/* Every event line of the run, kept for the console's expectations: `expect`
 * looks for a line containing a text, `expect-page` for the page id that the
 * last page event reported. Waits run in device time and end early once the
 * program has ended, since no further line can come. */
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

/* Starts keeping the lines of the event log (once; call before the first
 * event that should be seen). */
void event_lines_attach();
/* Adds a line as the event log would (the observer's entry point). */
void event_lines_add(const std::string& line);
/* No further line will come: waits give their answer at once. */
void event_lines_end();
/* Forgets all lines and the end (for tests). */
void event_lines_reset();

/* Waits until a line containing `pattern` is there (lines before the call
 * included), at most `within_ms` of device time. On failure, *seen holds the
 * last lines kept (or says there were none). */
bool event_lines_expect(const std::string& pattern, uint64_t within_ms, std::string* seen);
/* Waits until the last page event's id is `id`. On failure, *seen tells the
 * current page id (or that no page event came). */
bool event_lines_expect_page(int id, uint64_t within_ms, std::string* seen);

/* Lets `ms` of device time pass, or less when the program ends meanwhile. */
void event_lines_wait(uint64_t ms);

/* The id of a page event line, or -1 for any other line. */
int page_event_id(const std::string& line);

}  // namespace sim

