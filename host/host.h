// The host server's services, as a loaded module sees them.
// Every routine and datum here belongs to the host; the module only calls
// and reads them. The substitute host in simhost/ implements all of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#pragma GCC visibility push(default)

// ---------------------------------------------------------------- values

// MS-DOS packed date (year-1980:7 month:4 day:5) and time (hour:5 minute:6
// second/2:5). Both compare chronologically as unsigned numbers.
using PackedDate = std::uint16_t;
using PackedTime = std::uint16_t;

enum : int { USERID_SIZE = 30 };        // 29 characters and the terminator
enum : int { HOST_MAX_CHANNELS = 256 };

// One channel's record. Only the fields below mean anything to a module.
struct ChannelRecord {
  std::uint8_t reserved0;
  std::uint8_t reserved1;
  std::uint8_t flags2;   // bit 7: direct-end, end a refused visit ourselves
  std::uint8_t flags3;   // bit 0: no-tally, this visit is not counted
  std::int32_t status;   // 0 free; 2 and 6 fully signed on; else occupied
  std::int32_t usage;    // the host's usage figure for the user (signed)
};
enum : std::uint8_t { CHANNEL_DIRECTEND = 0x80, CHANNEL_NOTALLY = 0x01 };
static_assert(offsetof(ChannelRecord, flags2) == 2);
static_assert(offsetof(ChannelRecord, flags3) == 3);
static_assert(offsetof(ChannelRecord, status) == 4);
static_assert(offsetof(ChannelRecord, usage) == 8);

// One account. The record is also the layout of the account file (accbb),
// whose key 0 is the user-id at its start.
struct AccountRecord {
  char userid[USERID_SIZE];
  char keys[190];          // host's own: key names, comma-separated
  std::uint8_t flags220;   // bit 0: no-count, never counted in activity
  std::uint8_t reserved[291];
};
enum : std::uint8_t { ACCOUNT_NOCOUNT = 0x01 };
static_assert(offsetof(AccountRecord, flags220) == 220);
static_assert(sizeof(AccountRecord) == 512);

// Routine pointers the host calls back.
using HostRoutine = void (*)();         // timers, hooks, most slots
using HostIntRoutine = int (*)();       // slots that answer a value
using PasswordCheck = int (*)(const char* password);  // nonzero accepts

// The registration record a module hands to register_module. Slots are
// called by the host at the events named; a null slot is skipped.
struct ModuleRecord {
  char description[25];
  HostIntRoutine logon;       // 1: a user has logged on
  HostIntRoutine input;       // 2: the user typed a line while in the module
  HostRoutine status;         // 3: a channel's status changed
  HostRoutine inject;         // 4: a message was injected for the user
  HostRoutine logoff;         // 5: the user left the module's menu
  HostRoutine hangup;         // 6: the user's channel is being freed
  HostRoutine cleanup;        // 7: the midnight clean-up
  HostRoutine deleteAccount;  // 8: an account is being deleted
  HostRoutine shutdown;       // 9: the host is shutting down
};

struct HostMessageFile;  // an open message and option file
struct HostDataFile;     // an open keyed data file

// One argument of a checked formatting call; built by the templates below.
struct HostArg {
  int kind;                 // HOST_ARG_INT or HOST_ARG_TEXT
  long long number;
  const char* text;
};
enum : int { HOST_ARG_INT = 1, HOST_ARG_TEXT = 2 };

extern "C" {

// ---------------------------------------------------------------- data

extern int nterms;                       // channels 0 .. nterms-1
extern unsigned int channel[HOST_MAX_CHANNELS];  // channel number of index n
extern int usrnum;                       // the current channel index
extern ChannelRecord* usrptr;            // its channel record
extern AccountRecord* usaptr;            // its account record
extern int othusn;                       // the other user's channel index
extern ChannelRecord* othusp;
extern AccountRecord* othuap;
extern HostDataFile* accbb;              // the account file
extern PasswordCheck chkpsw;             // the host's password check

// ---------------------------------------------------------------- services

int register_module(ModuleRecord* record);   // returns the module number
const char* gmdnam(const char* mdfFile);     // display name of a module
char* stzcpy(char* target, const char* source, int size);
void dfsthn();                               // the host's standard status routine

ChannelRecord* usroff(int n);
AccountRecord* uacoff(int n);

HostMessageFile* opnmsg(const char* file);   // also makes it current
void clsmsg(HostMessageFile* file);
void setmbk(HostMessageFile* file);
void rstmbk();
char* stgopt(int n);
std::int32_t numopt(int n, std::int32_t min, std::int32_t max);
std::int32_t hexopt(int n, std::int32_t min, std::int32_t max);
std::uint16_t ynopt(int n);

void prf(const char* text);
void prfmsgArgs(int n, const HostArg* args, int count);
void byenowArgs(int n, const HostArg* args, int count);
void shocstArgs(const char* summary, const char* detail, const HostArg* args,
                int count);
int injoth();
void bbsdsc(int n);

int onsysn(const char* userid, int signedOnOnly);
std::uint16_t isuidc(char c);
std::uint16_t sameas(const char* a, const char* b);
int haskey(const char* key);
int othkey(const char* key);
int uhskey(const char* userid, const char* key);

PackedDate today();
PackedTime now();
PackedTime dctime(const char* text);
char* ncdate(PackedDate date);
char* nctime(PackedTime time);

void rtkick(int seconds, HostRoutine routine);
void hook_connect(HostRoutine routine);
void hook_disconnect(HostRoutine routine);

HostDataFile* dfaOpen(const char* name, int recordLength, int reserved);
void dfaSetBlk(HostDataFile* file);
void dfaRstBlk();
std::uint16_t dfaAcqLock(void* buffer, const char* key, int keyNumber,
                         int lockMode, int reserved);
void dfaInsert(const void* record);
void dfaDelete();

char* fileparts(int mode, const char* path, char* buffer, int size);

}  // extern "C"

// ------------------------------------------------- checked formatting calls
// prfmsg, byenow and shocst take integers and texts only; each argument
// travels with its kind so the host can check the message text against it.

inline HostArg hostArg(const char* text) { return {HOST_ARG_TEXT, 0, text}; }
template <class T>
  requires std::is_integral_v<T>
inline HostArg hostArg(T number) {
  return {HOST_ARG_INT, static_cast<long long>(number), nullptr};
}

template <class... A>
inline void prfmsg(int n, A... args) {
  const HostArg packed[] = {hostArg(args)..., HostArg{0, 0, nullptr}};
  prfmsgArgs(n, packed, static_cast<int>(sizeof...(A)));
}

template <class... A>
inline void byenow(int n, A... args) {
  const HostArg packed[] = {hostArg(args)..., HostArg{0, 0, nullptr}};
  byenowArgs(n, packed, static_cast<int>(sizeof...(A)));
}

template <class... A>
inline void shocst(const char* summary, const char* detail, A... args) {
  const HostArg packed[] = {hostArg(args)..., HostArg{0, 0, nullptr}};
  shocstArgs(summary, detail, packed, static_cast<int>(sizeof...(A)));
}

#pragma GCC visibility pop
