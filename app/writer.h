// The writer of a split run: the process the user started, which parses nothing
// of the evidence. It makes the outputs once its reader says the system is open,
// and writes what the reader sends, trusting none of it.
#pragma once

// Writes what the reader sends into the history file and, with szTimeline (as the
// user named it; null for none), the timeline; the run's exit status, the
// reader's and the writer's own combined.
int WriteWhatIsRead(const char* szTimeline);

// The reader's last frame: its exit status, with everything queued before it.
void EndReading(int nStatus);
