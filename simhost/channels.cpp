// Channels and users: the host's data globals, the channel and account
// records behind usroff/uacoff, the current and other user, user-id and key
// tests, and the small text helpers (stzcpy, fileparts).
#include <cstring>

#include "simhost/internal.h"
#include "simhost/state.h"
#include "simhost/text.h"

namespace simhost {

HostState state;

int hostPasswordCheck(const char*) { return state.badPassword ? 0 : 1; }

bool validChannel(int ch) { return ch >= 0 && ch < nterms; }

void makeCurrent(int ch) {
  state.current = ch;
  restoreCurrent();
}

void restoreCurrent() {
  usrnum = state.current;
  usrptr = &state.channels[state.current];
  usaptr = &state.accounts[state.current];
}

std::string fieldText(const char* field, std::size_t size) {
  return std::string(field, strnlen(field, size));
}

std::string userIdOf(int ch) { return fieldText(state.accounts[ch].userid, USERID_SIZE); }

void loadAccount(int ch, const std::string& userid) {
  AccountRecord record{};
  dfaSetBlk(accbb);
  if (dfaAcqLock(&record, userid.c_str(), 0, 5, 0) == 0) {
    record = AccountRecord{};
    stzcpy(record.userid, userid.c_str(), USERID_SIZE);
    dfaInsert(&record);
  }
  dfaRstBlk();
  state.accounts[ch] = record;
}

void freeChannel(int ch) {
  state.channels[ch] = ChannelRecord{};
  state.accounts[ch] = AccountRecord{};
  state.visit[ch] = 0;
  state.freeing[ch] = false;
}

namespace {

// Whether the comma-separated key list of an account holds the key.
bool holdsKey(const AccountRecord* account, const char* key) {
  if (account == nullptr || key == nullptr || *key == '\0') return false;
  const std::string keys = fieldText(account->keys, sizeof account->keys);
  std::size_t start = 0;
  while (start <= keys.size()) {
    std::size_t comma = keys.find(',', start);
    if (comma == std::string::npos) comma = keys.size();
    if (text::equalFolded(std::string_view(keys).substr(start, comma - start), key)) return true;
    start = comma + 1;
  }
  return false;
}

}  // namespace

}  // namespace simhost

using namespace simhost;

extern "C" {

int nterms = 0;
unsigned int channel[HOST_MAX_CHANNELS] = {};
int usrnum = 0;
ChannelRecord* usrptr = &state.channels[0];
AccountRecord* usaptr = &state.accounts[0];
int othusn = 0;
ChannelRecord* othusp = &state.channels[0];
AccountRecord* othuap = &state.accounts[0];
HostDataFile* accbb = nullptr;
PasswordCheck chkpsw = hostPasswordCheck;

ChannelRecord* usroff(int n) {
  if (validChannel(n)) return &state.channels[n];
  warning("usroff: channel " + std::to_string(n) + " is out of range");
  state.spareChannel = ChannelRecord{};
  return &state.spareChannel;
}

AccountRecord* uacoff(int n) {
  if (validChannel(n)) return &state.accounts[n];
  warning("uacoff: channel " + std::to_string(n) + " is out of range");
  state.spareAccount = AccountRecord{};
  return &state.spareAccount;
}

// An empty user-id names nobody, so a channel occupied without one is
// never found.
int onsysn(const char* userid, int signedOnOnly) {
  if (userid == nullptr || *userid == '\0') return 0;
  for (int ch = 0; ch < nterms; ++ch) {
    const std::int32_t status = state.channels[ch].status;
    const bool fits = signedOnOnly != 0 ? (status == 2 || status == 6) : status != 0;
    if (fits && text::equalFolded(userIdOf(ch), userid)) {
      othusn = ch;
      othusp = &state.channels[ch];
      othuap = &state.accounts[ch];
      return 1;
    }
  }
  return 0;
}

std::uint16_t isuidc(char c) { return c > ' ' && c < 0x7f && c != '(' && c != ')'; }

std::uint16_t sameas(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return text::equalFolded(a, b);
}

int haskey(const char* key) { return holdsKey(usaptr, key); }

int othkey(const char* key) { return holdsKey(othuap, key); }

int uhskey(const char* userid, const char* key) {
  if (userid == nullptr || key == nullptr || *key == '\0') return 0;
  if (*userid == '\0' || std::strlen(userid) >= USERID_SIZE) return 0;
  AccountRecord record{};
  dfaSetBlk(accbb);
  const bool found = dfaAcqLock(&record, userid, 0, 5, 0) != 0;
  dfaRstBlk();
  return found && holdsKey(&record, key);
}

char* stzcpy(char* target, const char* source, int size) {
  if (target == nullptr || size <= 0) return target;
  int i = 0;
  if (source != nullptr) {
    for (; i < size - 1 && source[i] != '\0'; ++i) target[i] = source[i];
  }
  target[i] = '\0';
  return target;
}

// Only mode 1 (the path as written) is used by modules; any other mode
// gives the same text and a warning, so nothing is left unterminated.
char* fileparts(int mode, const char* path, char* buffer, int size) {
  if (mode != 1) warning("fileparts: mode " + std::to_string(mode) + " is not supported");
  return stzcpy(buffer, path, size);
}

void dfsthn() {}

}  // extern "C"
