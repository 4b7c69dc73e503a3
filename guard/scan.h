// The channel scan and the choice of the Bump candidate.
#pragma once

// Makes channel index n the host's other user (othusn, othusp, othuap).
void makeOtherUser(int n);
// Nonzero when the channel number lies in [firstChannel, lastChannel].
int inWatchedRange(unsigned channelNumber);

// Timer routine: counts the busy channels of the range and, when the range
// is busy, chooses and warns a candidate; re-arms itself while enabled.
void scanChannels();
// Return nonzero when at least one eligible user was seen.
int chooseCandidate();
// Empties the Bump candidate.
void clearCandidate();
