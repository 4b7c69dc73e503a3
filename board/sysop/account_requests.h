// Carrying out an account request on the host: the rules of a user-id and
// of a key list, and the requests themselves (add, keys, password, remove,
// list), on the running board's host or on DIR's files held here.
#pragma once

#include <string>
#include <vector>

#include "board/caller/passwords.h"
#include "board/sysop/control.h"

namespace board {

// A user-id the host can keep; a new one must also be as userIdFromTyped
// keeps it, so a caller can type it at the board's prompt. Throws
// CommandFailure(2).
void checkUserId(const std::string& userid, bool isNew);
// KEY,KEY... as the account will hold them; "" is no key at all. Throws
// CommandFailure(2).
std::vector<std::string> readKeys(const std::string& list);
std::string joinKeys(const std::vector<std::string>& keys);

// The request words: add USERID KEYS yes|no HASH · keys USERID KEYS ·
// password USERID HASH · remove USERID · list. Throws CommandFailure.
Reply carryOut(const std::vector<std::string>& words, PasswordFile& passwords);

// Carries the request out on DIR's own files, holding DIR as a host does.
// Throws simhost::Fatal when DIR or a file there cannot be used.
Reply carryOutHere(const std::string& dir, const std::vector<std::string>& words);

}  // namespace board
