// The module's delay records as the host's programs read and remove them:
// the `delays` listing, a sysop's pardon, and the record's bytes, laid out
// as the module's own header lays them out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hostprog/delay_end.h"
#include "store/delay_file.h"

namespace hostprog {

struct StoredDelay {
  std::string userid;        // as stored, up to its terminator
  std::uint16_t date, time;  // packed, as stored
};

// Every record of the delay file, ordered by user-id ignoring ASCII case;
// a record of another length is skipped with a warning.
std::vector<StoredDelay> delays();

// Every record of the delay file at PATH, read with no host running and
// nothing written (a board may not be running there); `error` names the
// file and the reason when it cannot be read.
std::vector<StoredDelay> delaysReadOnly(const std::string& path, std::string* error);

// One line of a `delays` listing: `delay "ID" STAMP until END`, the end
// as the module tells the user (hostprog::delayEnd).
std::string delayLine(const StoredDelay& d, Moment end);

// Deletes the user's delay record. Answers "" when done, else why not (no
// record, no delay file open, the write refused).
std::string pardon(const std::string& userid);

// "YYYY-MM-DD HH:MM:SS" of a packed date and time, as stored, so a damaged
// stamp shows as it is.
std::string packedStamp(std::uint16_t date, std::uint16_t time);

// A record as the module writes one: at most 29 bytes of user-id, zeros
// after it, the stamp little-endian.
DelayRecord makeDelayRecord(std::string_view userid, std::uint16_t date, std::uint16_t time);

}  // namespace hostprog
