// The module's own files as the host's programs know them: the names the
// module opens in DIR, and the module file itself with its start routine.
// The host core knows none of these; the programs hand them to it.
#pragma once

namespace hostprog {

inline constexpr const char kDelayFile[] = "zorgaval.dat";        // its delay records
inline constexpr const char kOptionFile[] = "zorgaval.mcv";       // its messages and options
inline constexpr const char kDescriptionFile[] = "ZORGAVAL.MDF";  // its description
inline constexpr const char kModuleFile[] = "zorgaval.so";
inline constexpr const char kInitRoutine[] = "_init__zorgaval";

}  // namespace hostprog
