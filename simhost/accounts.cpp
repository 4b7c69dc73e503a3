// The account file as the sysop's commands see it: every account listed,
// one looked up, stored at once or removed, all through the host's data-file
// layer (accbb), so the board and a command run on its own agree on it.
#include <algorithm>
#include <cstring>

#include "simhost/internal.h"
#include "simhost/state.h"

namespace simhost {

namespace {

StoredAccount fromRecord(const AccountRecord& record) {
  StoredAccount account;
  account.userid = fieldText(record.userid, USERID_SIZE);
  const std::string keys = fieldText(record.keys, sizeof record.keys);
  std::size_t start = 0;
  while (start < keys.size()) {
    std::size_t comma = keys.find(',', start);
    if (comma == std::string::npos) comma = keys.size();
    if (comma > start) account.keys.push_back(keys.substr(start, comma - start));
    start = comma + 1;
  }
  account.nocount = (record.flags220 & ACCOUNT_NOCOUNT) != 0;
  return account;
}

// Looks the account up and leaves it the current record of accbb, which is
// left selected; the caller restores.
bool lookUp(const std::string& userid, AccountRecord* record) {
  dfaSetBlk(accbb);
  if (userid.empty() || userid.size() >= USERID_SIZE) return false;
  return dfaAcqLock(record, userid.c_str(), 0, 5, 0) != 0;
}

std::string refusedWrite(std::size_t before, const char* what) {
  if (writeFailures().accounts == before) return "";
  return std::string("accounts.dat: cannot ") + what +
         " the account (the write was refused; see the warning)";
}

}  // namespace

std::vector<StoredAccount> accounts() {
  std::vector<StoredAccount> out;
  for (const std::vector<unsigned char>& bytes : allRecords(accbb)) {
    AccountRecord record{};
    std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
    out.push_back(fromRecord(record));
  }
  return out;
}

std::optional<StoredAccount> findAccount(const std::string& userid) {
  AccountRecord record{};
  const bool found = lookUp(userid, &record);
  dfaRstBlk();
  if (!found) return std::nullopt;
  return fromRecord(record);
}

std::string storeAccount(const std::string& userid, const std::vector<std::string>& keys,
                         bool nocount) {
  const std::size_t before = writeFailures().accounts;
  setAccount(userid, keys, nocount);
  endDataBatch(accbb);  // before start setAccount holds its write for start
  return refusedWrite(before, "store");
}

std::string removeAccount(const std::string& userid) {
  AccountRecord record{};
  if (!lookUp(userid, &record)) {
    dfaRstBlk();
    return "there is no account " + quote(userid);
  }
  dfaRstBlk();
  if (state.started) {
    // The module sees the account going as the current user's; a routine
    // of its own may look accounts up, so accbb is selected again after.
    for (ModuleRecord* module : std::vector<ModuleRecord*>(state.modules)) {
      if (module->deleteAccount == nullptr) continue;
      restoreCurrent();
      usaptr = &record;
      callModule("delete-account routine", module->deleteAccount);
    }
    restoreCurrent();
  }
  const std::size_t before = writeFailures().accounts;
  AccountRecord again{};
  if (lookUp(userid, &again)) dfaDelete();
  dfaRstBlk();
  return refusedWrite(before, "remove");
}

}  // namespace simhost
