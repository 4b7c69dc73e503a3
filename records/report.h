// The daily activity report, appended at the midnight clean-up.
#pragma once

// Registration slot 7: appends the chosen counter tables to reportPath.
void writeDailyReport();
