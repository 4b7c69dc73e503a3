// Writing the daily report at reportPath from the counters (reads enabled,
// the report options, bumpKeys and counters; never resets the counters).
#include "records/report.h"

#include <cstdio>

#include "frame/state.h"
#include "store/packed_time.h"

static const char columnHeading[] =
    "             06-12 13-15 16-18 19    20    21    22    23    24    01    02-05";
static_assert(sizeof columnHeading - 1 == 78);

static void writeTable(std::FILE* file, int kind, PackedDate yesterday, PackedDate date) {
  static const char* const headings[ACTIVITY_KIND_COUNT] = {
      "%s Zor Gaval Activity Report: LOGONS\n", "%s Zor Gaval Activity Report: WARNINGS\n",
      "%s Zor Gaval Activity Report: BUMPS\n", "%s Zor Gaval Activity Report: DELAYS\n"};
  for (int i = 0; i < 80; ++i) std::fputc('-', file);
  std::fputc('\n', file);
  // ncdate reuses its buffer: yesterday goes out before today is formatted.
  std::fputs(ncdate(yesterday), file);
  std::fputc('-', file);
  std::fprintf(file, headings[kind - 1], ncdate(date));
  std::fprintf(file, "%s\n", columnHeading);
  for (int keyClass = 0; keyClass < BUMP_KEY_COUNT; ++keyClass) {
    std::fprintf(file, "%-13.12s", moduleState.bumpKeys[keyClass]);
    for (int bucket = 0; bucket < TIME_BUCKET_COUNT; ++bucket)
      std::fprintf(file, "%-6u",
                   static_cast<unsigned>(moduleState.counters[kind - 1][keyClass][bucket]));
    std::fputc('\n', file);
  }
}

void writeDailyReport() {
  const int chosen[ACTIVITY_KIND_COUNT] = {moduleState.reportLogons, moduleState.reportWarnings,
                                           moduleState.reportBumps, moduleState.reportDelays};
  if (!moduleState.enabled ||
      !(chosen[0] || chosen[1] || chosen[2] || chosen[3]))
    return;
  const PackedDate date = today();
  const PackedDate yesterday = subtractDays(1, date);
  std::FILE* file = std::fopen(moduleState.reportPath, "at");
  bool failed = file == nullptr;
  if (file != nullptr) {
    for (int kind = KIND_LOGONS; kind <= KIND_DELAYS; ++kind)
      if (chosen[kind - 1]) writeTable(file, kind, yesterday, date);
    // A write refused (a full disk) is as much a failure as a refused open.
    failed = std::ferror(file) != 0;
    if (std::fclose(file) != 0) failed = true;
  }
  if (failed) {
    char buffer[64];
    shocst("Zor Gaval Error", "Cannot open %s for output",
           fileparts(1, moduleState.reportPath, buffer, 64));
  }
}
