// The warning and the bump of the Bump candidate, and the watchers' notice.
#pragma once

// The warning stage, run by the scan while the message file is current:
// warns the candidate and arms the bump timer, which bumps whoever is the
// candidate when it fires.
void warnCandidate();
