// The event log file: one appended entry per start-up, warning, bump and
// refused log-on.
#pragma once

enum : int { LOG_START = 0, LOG_WARNED = 1, LOG_DISCONNECTED = 2, LOG_DELAYED = 3 };

// Appends the entry of `kind` for `userId` (unused for LOG_START) to the
// event log; the file is opened and closed within the call.
void logEvent(const char* userId, int kind);
