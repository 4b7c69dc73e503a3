// The events that drive the host from outside: arrivals by the password and
// connect routes, occupying, leaving, changing a channel's record, and the
// account and channel setup made before the module starts; and what a live
// host adds: the password route at a prompt, serving a channel, a pardon.
#include <cstring>
#include <utility>

#include "simhost/event.h"
#include "simhost/internal.h"
#include "simhost/state.h"

namespace simhost {

namespace {

std::string channelName(int ch) { return "channel " + std::to_string(ch); }

// What keeps a channel from taking a new user, or "".
std::string refuseArrival(int ch, std::int32_t status, const std::string& userid, bool needsId) {
  if (state.shutDown) return "the host has shut down";
  if (!validChannel(ch)) {
    return channelName(ch) + " is out of range (0 to " + std::to_string(nterms - 1) + ")";
  }
  if (state.channels[ch].status != 0) return channelName(ch) + " is busy";
  if (status == 0) return "status 0 would leave " + channelName(ch) + " free";
  if (needsId && userid.empty()) return "a user arriving needs a user-id";
  if (userid.size() >= USERID_SIZE) {
    return "user-id " + quote(userid) + " is longer than " + std::to_string(USERID_SIZE - 1) +
           " characters";
  }
  return "";
}

// A new visit on a free channel; the account copy is left to the caller.
void seat(int ch, std::int32_t status, std::int32_t usage, bool notally, bool directend) {
  freeChannel(ch);
  ChannelRecord& record = state.channels[ch];
  record.status = status;
  record.usage = usage;
  if (directend) record.flags2 |= CHANNEL_DIRECTEND;
  if (notally) record.flags3 |= CHANNEL_NOTALLY;
  state.visit[ch] = ++state.visits;
}

bool stillOn(int ch, std::uint64_t visit) {
  return state.visit[ch] == visit && state.channels[ch].status != 0;
}

}  // namespace

namespace {

// The password route from the moment the user is seated at status 1 with
// the account copy loaded. With `promptId` null a refusal ends the visit,
// as the simulator's logon does; otherwise the caller stays on the channel,
// back at the prompt under that id.
Verdict passwordRoute(const Arrival& a, const std::string* promptId) {
  const int ch = a.channel;
  const std::uint64_t visit = state.visit[ch];
  makeCurrent(ch);

  // The flag lives in the host, not in chkpsw, so that the host's own check
  // still refuses when a module has put its routine in front of it.
  state.badPassword = a.badpassword;
  int accepted = 0;
  std::vector<int> requests;
  {
    ModuleCall call("password check");
    if (chkpsw != nullptr) {
      accepted = chkpsw("");
    } else {
      warning("chkpsw is null; the host's own password check is used");
      accepted = hostPasswordCheck("");
    }
    requests = call.finish();
  }
  state.badPassword = false;
  emit({.kind = EventKind::Logon,
        .channel = ch,
        .userid = userIdOf(ch),
        .address = state.live.logonAddress ? state.live.logonAddress(ch) : std::string(),
        .accepted = accepted != 0});
  carryOut(requests);

  if (!stillOn(ch, visit)) return Verdict::Ended;  // the check ended it itself
  if (!accepted) {
    if (promptId == nullptr) {
      carryOut({ch});
      return Verdict::Ended;
    }
    // The visit never began: no hooks run, and the caller keeps the channel.
    state.channels[ch].status = 1;
    state.accounts[ch] = AccountRecord{};
    stzcpy(state.accounts[ch].userid, promptId->c_str(), USERID_SIZE);
    makeCurrent(ch);
    return Verdict::Rejected;
  }
  state.channels[ch].status = a.status;
  for (ModuleRecord* module : std::vector<ModuleRecord*>(state.modules)) {
    if (module->logon == nullptr || !stillOn(ch, visit)) continue;
    makeCurrent(ch);
    callModule("logon routine", module->logon);
  }
  return stillOn(ch, visit) ? Verdict::Accepted : Verdict::Ended;
}

}  // namespace

std::string logon(const Arrival& a) {
  std::string refused = refuseArrival(a.channel, a.status, a.userid, true);
  if (!refused.empty()) return refused;
  seat(a.channel, 1, a.usage, a.notally, a.directend);
  loadAccount(a.channel, a.userid);
  passwordRoute(a, nullptr);
  return "";
}

Verdict logonAtPrompt(const Arrival& a, const std::string& promptId, std::string* refused) {
  const int ch = a.channel;
  if (validChannel(ch) && state.channels[ch].status == 1 && !state.freeing[ch]) {
    // Seated anew below: the channel counts as free for the checks only.
    state.channels[ch].status = 0;
    *refused = refuseArrival(ch, a.status, a.userid, true);
    state.channels[ch].status = 1;
  } else {
    *refused = state.shutDown     ? "the host has shut down"
               : validChannel(ch) ? channelName(ch) + " is not at a prompt"
                                  : channelName(ch) + " is out of range";
  }
  if (!refused->empty()) return Verdict::Ended;
  seat(ch, 1, a.usage, a.notally, a.directend);
  loadAccount(ch, a.userid);
  return passwordRoute(a, &promptId);
}

std::string connect(const Arrival& a) {
  std::string refused = refuseArrival(a.channel, a.status, a.userid, true);
  if (!refused.empty()) return refused;
  const int ch = a.channel;
  seat(ch, a.status, a.usage, a.notally, a.directend);
  loadAccount(ch, a.userid);
  const std::uint64_t visit = state.visit[ch];
  makeCurrent(ch);
  emit({.kind = EventKind::Connect, .channel = ch, .userid = userIdOf(ch)});
  for (HostRoutine hook : std::vector<HostRoutine>(state.connectHooks)) {
    if (!stillOn(ch, visit)) break;
    makeCurrent(ch);
    callModule("connect hook", hook);
  }
  return "";
}

std::string occupy(int ch, std::int32_t status, const std::string& userid) {
  std::string refused = refuseArrival(ch, status, userid, false);
  if (!refused.empty()) return refused;
  seat(ch, status, 0, false, false);
  stzcpy(state.accounts[ch].userid, userid.c_str(), USERID_SIZE);
  makeCurrent(ch);
  return "";
}

std::string logoff(int ch) {
  if (state.shutDown) return "the host has shut down";
  if (!validChannel(ch)) return channelName(ch) + " is out of range";
  if (state.channels[ch].status == 0) return channelName(ch) + " is free";
  carryOut({ch});
  return "";
}

std::string setField(int ch, Field field, std::int32_t value) {
  if (state.shutDown) return "the host has shut down";
  if (!validChannel(ch)) return channelName(ch) + " is out of range";
  ChannelRecord& record = state.channels[ch];
  if (record.status == 0) return channelName(ch) + " is free";
  switch (field) {
    case Field::Usage:
      record.usage = value;
      break;
    case Field::Status:
      // Status 0 means free; a visit ends by logoff, with its hang-up.
      if (value == 0) return "status 0 would free " + channelName(ch) + "; use logoff";
      record.status = value;
      break;
    case Field::Notally:
      record.flags3 =
          value ? (record.flags3 | CHANNEL_NOTALLY) : (record.flags3 & ~CHANNEL_NOTALLY);
      break;
    case Field::Directend:
      record.flags2 =
          value ? (record.flags2 | CHANNEL_DIRECTEND) : (record.flags2 & ~CHANNEL_DIRECTEND);
      break;
  }
  makeCurrent(ch);
  return "";
}

void serve(int ch) {
  if (validChannel(ch) && state.channels[ch].status != 0) makeCurrent(ch);
}

void setLiveHooks(LiveHooks hooks) { state.live = std::move(hooks); }

Removal removeRecord(const std::string& name, const std::string& key) {
  HostDataFile* file = findDataFile(name);
  if (file == nullptr) return Removal::NoFile;
  if (key.empty() || key.size() >= USERID_SIZE) return Removal::NoRecord;
  std::vector<unsigned char> record(static_cast<std::size_t>(recordLengthOf(file)) + 1);
  dfaSetBlk(file);
  const bool found = dfaAcqLock(record.data(), key.c_str(), 0, 5, 0) != 0;
  const WriteFailures before = writeFailures();
  if (found) dfaDelete();
  dfaRstBlk();
  if (!found) return Removal::NoRecord;
  if (writeFailures().records != before.records) return Removal::Refused;
  return Removal::Done;
}

void setChannelNumber(int index, unsigned number) {
  if (!validChannel(index)) {
    throw Fatal(2,
                channelName(index) + " is out of range (0 to " + std::to_string(nterms - 1) + ")");
  }
  channel[index] = number;
}

void setAccount(const std::string& userid, const std::vector<std::string>& keys, bool nocount) {
  const std::string who = "account " + quote(userid);
  if (userid.empty()) throw Fatal(2, "an account needs a user-id");
  if (userid.size() >= USERID_SIZE) {
    throw Fatal(
        2, who + ": the user-id is longer than " + std::to_string(USERID_SIZE - 1) + " characters");
  }
  std::string joined;
  for (const std::string& key : keys) {
    if (key.find(',') != std::string::npos) {
      throw Fatal(2, who + ": key " + quote(key) + " contains a comma");
    }
    if (!joined.empty()) joined += ',';
    joined += key;
  }
  AccountRecord record{};
  if (joined.size() >= sizeof record.keys) {
    throw Fatal(2, who + ": the keys take " + std::to_string(joined.size()) +
                       " characters with their commas; at most " +
                       std::to_string(sizeof record.keys - 1) + " fit");
  }
  stzcpy(record.userid, userid.c_str(), USERID_SIZE);
  std::memcpy(record.keys, joined.data(), joined.size());
  if (nocount) record.flags220 |= ACCOUNT_NOCOUNT;
  // Before start the accounts are stored together when the module starts.
  if (!state.started) beginDataBatch(accbb);
  dfaSetBlk(accbb);
  dfaInsert(&record);
  dfaRstBlk();
}

}  // namespace simhost
