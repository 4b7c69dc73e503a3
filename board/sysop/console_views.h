// What the console shows, as JSON: the sysop's rows (board/sysop/rows.h),
// and the report read back with the host's own count of today beside it.
#pragma once

#include <string>
#include <vector>

#include "board/sysop/host_watch.h"
#include "board/sysop/rows.h"
#include "hostprog/report_read.h"

namespace board {

std::string whoJson(const std::vector<WhoRow>& rows);
std::string delaysJson(const std::vector<DelayRow>& rows);
std::string blockedJson(const std::vector<Throttle::Block>& rows);
// The report file at PATH (option 29, "" for none) read back, beside
// today's count by hour as the host saw it.
std::string reportJson(const std::string& path, const HostWatch& today);
std::string reportJson(const hostprog::ReportFile& file, const HostWatch& today);

}  // namespace board
