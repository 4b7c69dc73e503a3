// Writing the event log at logPath (reads logPath, windowStart, windowEnd).
// Callers test logEnabled; this file only writes.
#include "records/event_log.h"

#include <cstdio>

#include "frame/state.h"
#include "store/packed_time.h"

static void reportFailure() {
  char buffer[64];
  shocst("Zor Gaval FILE OPEN ERROR", "Could not open %s for output",
         fileparts(1, moduleState.logPath, buffer, 64));
}

void logEvent(const char* userId, int kind) {
  std::FILE* file = std::fopen(moduleState.logPath, "at");
  if (file == nullptr) {
    reportFailure();
    return;
  }
  const PackedDate date = today();
  // A window that ends before it starts closes on the next day.
  const PackedDate windowEndDate =
      moduleState.windowEnd < moduleState.windowStart ? addDays(1, date) : date;
  // ncdate and nctime each reuse one buffer of their own, so one of each per
  // call is safe.
  switch (kind) {
    case LOG_START:
      std::fprintf(file, "\nStart of Zor Gaval log file - Date: %s Time: %s.\n",
                   ncdate(date), nctime(now()));
      std::fprintf(file, "Zor Gaval goes active - Date: %s Time: %s.\n", ncdate(date),
                   nctime(moduleState.windowStart));
      std::fprintf(file, "Zor Gaval goes inactive - Date: %s Time: %s.\n",
                   ncdate(windowEndDate), nctime(moduleState.windowEnd));
      break;
    case LOG_WARNED:
      std::fprintf(file, "%s warned by Gaval of disconnect - Date: %s Time: %s.\n", userId,
                   ncdate(date), nctime(now()));
      break;
    case LOG_DISCONNECTED:
      std::fprintf(file, "%s disconnected by Gaval - Date: %s Time: %s.\n", userId,
                   ncdate(date), nctime(now()));
      break;
    case LOG_DELAYED:
      std::fprintf(file, "%s log-on attempt delayed by Gaval - Date: %s Time: %s.\n", userId,
                   ncdate(date), nctime(now()));
      break;
    default:
      break;
  }
  // A write refused (a full disk) is as much a failure as a refused open.
  const bool failed = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || failed) reportFailure();
}
