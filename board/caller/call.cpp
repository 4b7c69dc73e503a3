// A caller's dialogue: the banner, `User-ID: ` and `Password: ` (three
// tries, through the log-on gate), the host's password route, sign-up by
// typing `new` with --new-users, then the teleconference until /quit, a
// time-out or a hang-up; the connection beneath carries the bytes.
#include <cstring>

#include "board/caller/logon_gate.h"
#include "board/caller/userid.h"
#include "board/core/board.h"
#include "simhost/event.h"
#include "simhost/text.h"

namespace board {

namespace {

const char kBanner[] =
    "\r\nZor Gaval live board.\r\n"
    "Sign on with your user-id and password.\r\n";
const char kNewUsersLine[] = "New callers: type new at the User-ID prompt to sign up.\r\n";
const char kLoginId[] = "(Login)";
// Typed at the User-ID prompt with --new-users, it begins a sign-up, so no
// other id has to be offered an account, which would tell who exists.
const char kSignUpWord[] = "new";

// Nothing typed but blanks is no answer yet.
bool blank(const std::string& typed) { return typed.find_first_not_of(' ') == std::string::npos; }

bool accountExists(const std::string& id) { return simhost::findAccount(id).has_value(); }

}  // namespace

Call::Call(Board& board, std::unique_ptr<Transport> transport, std::string address, std::string ip)
    : board_(board),
      connection_(board.io(), std::move(transport), *this, [this] { return shared_from_this(); }),
      timeout_(board.io()),
      address_(std::move(address)),
      ip_(std::move(ip)),
      talk_(board.config().talk) {}

void Call::opening(int channel) {
  channel_ = channel;
  since_ = simhost::clock();
  arrived_ = LiveClock::Steady::now();
  lines().setUtf8(board_.config().charset == Charset::Utf8);
  lines().start();
  write(kBanner);
}

void Call::begin(int channel) {
  opening(channel);
  if (board_.config().newUsers) write(kNewUsersLine);
  write("\r\n");
  prompt(Stage::UserId);
  connection_.read();
}

void Call::beginChecked(int channel, const std::string& userid) {
  opening(channel);
  if (board_.config().newUsers && simhost::text::equalFolded(userid, kSignUpWord)) {
    userIdTyped(kSignUpWord);
    if (stage_ != Stage::Gone) connection_.read();
    return;
  }
  userid_ = userid;
  stage_ = Stage::Checking;
  checked(Answer::Good);
}

void Call::turnAway(const char* why) {
  stage_ = Stage::Gone;
  write(why);
  closeAfterFlush();
}

void Call::closeAfterFlush() {
  stage_ = Stage::Gone;
  channel_ = -1;
  timeout_.cancel();
  if (relay_) relay_->close();  // the words it held go out first
  connection_.closeAfterFlush();
}

void Call::fault(simhost::EventKind kind) {
  simhost::emit({.kind = kind, .channel = channel_, .address = address_});
}

// Through the host's route when the call holds a channel, so the module
// hears of it; the host calls closeAfterFlush back.
void Call::broken() {
  if (channel_ >= 0)
    board_.hangUp(channel_);
  else
    closeAfterFlush();
}

void Call::finished() { board_.forget(shared_from_this()); }

void Call::prompt(Stage stage) {
  stage_ = stage;
  switch (stage) {
    case Stage::UserId:
      write("User-ID: ");
      break;
    case Stage::Password:
      write("Password: ");
      break;
    case Stage::NewUserId:
      write("Choose a user-id: ");
      break;
    case Stage::NewPassword:
      write("Choose a password: ");
      break;
    case Stage::NewAgain:
      write("Type it again: ");
      break;
    default:
      break;
  }
  lines().setEcho(stage == Stage::UserId || stage == Stage::NewUserId || stage == Stage::On);
  armTimeout();
}

// Until signed on, the caller has a while from the call's arrival, however
// many lines and tries it types meanwhile; signed on, a while of silence.
// Both in wall-clock seconds, whatever the host clock's speed.
void Call::armTimeout() {
  if (signedOn()) {
    timeout_.expires_after(std::chrono::seconds(board_.config().idleSeconds));
  } else {
    timeout_.expires_at(arrived_ + std::chrono::seconds(board_.config().promptSeconds));
  }
  timeout_.async_wait([self = shared_from_this()](const error_code& error) {
    if (error != net::error::operation_aborted) self->timedOut();
  });
}

void Call::timedOut() {
  if (stage_ == Stage::Gone || stage_ == Stage::Checking || stage_ == Stage::Connecting ||
      channel_ < 0)
    return;
  board_.advance();
  if (channel_ < 0) return;  // the host's timers ended the call meanwhile
  const std::string who = signedOn() ? userid_ : kLoginId;
  simhost::emit({.kind = simhost::EventKind::Timeout, .channel = channel_, .userid = who});
  write(signedOn() ? "\r\nYou have been idle too long. Goodbye.\r\n" : "\r\nTime is up.\r\n");
  board_.hangUp(channel_);
}

void Call::typed(const Line& typed) {
  board_.advance();
  if (channel_ < 0) return;  // the host's timers ended the call meanwhile
  simhost::serve(channel_);  // the channel the host served last
  if (typed.cut) {
    write("(The line was cut at " + std::to_string(kLineCap) + " characters.)\r\n");
  }
  // What others may see is kept to the board's character set; a password
  // is taken as typed.
  const bool shown = stage_ == Stage::UserId || stage_ == Stage::On;
  std::string text = shown ? keepTyped(typed.text, board_.config().charset, typed.cut) : typed.text;
  switch (stage_) {
    case Stage::UserId:
      userIdTyped(text);
      break;
    case Stage::Password:
      passwordTyped(std::move(text));
      break;
    case Stage::NewUserId:
      newUserIdTyped(text);
      break;
    case Stage::NewPassword:
    case Stage::NewAgain:
      newPasswordTyped(std::move(text));
      break;
    case Stage::On:
      conference(text);
      break;
    default:
      break;
  }
  forgetText(&text);
}

void Call::userIdTyped(const std::string& typed) {
  // Looked up as kept; what cannot be an id is still asked for a password.
  const std::string id = userIdFromTyped(typed).value_or(typed);
  if (blank(typed)) {
    prompt(Stage::UserId);
    return;
  }
  if (board_.config().newUsers && simhost::text::equalFolded(id, kSignUpWord)) {
    // A sign-up says whether a user-id is taken, so each one costs the address.
    if (!board_.throttle().signUp(ip_, LiveClock::Steady::now())) {
      simhost::emit({.kind = simhost::EventKind::NoSignup, .address = address_});
      write("\r\nNo more sign-ups from your address now. Please call back later.\r\n");
      board_.hangUp(channel_);
      return;
    }
    prompt(Stage::NewUserId);
    return;
  }
  // Known or not, the password is asked for and checked alike.
  userid_ = id;
  prompt(Stage::Password);
}

void Call::newUserIdTyped(const std::string& typed) {
  if (blank(typed)) {
    prompt(Stage::NewUserId);
    return;
  }
  const std::optional<std::string> kept = userIdFromTyped(typed);
  if (!kept || simhost::text::equalFolded(*kept, kSignUpWord)) {
    write("\r\nA user-id is 1 to " + std::to_string(USERID_SIZE - 1) +
          " printable characters, not beginning with ( or ), and not \"new\".\r\n");
    prompt(Stage::NewUserId);
    return;
  }
  const std::string& id = *kept;
  if (board_.passwords().hashOf(id) || accountExists(id)) {
    refused(("\r\nThe user-id " + id + " is taken.\r\n").c_str());
    return;
  }
  userid_ = id;
  write("\r\nNew user " + id + ": welcome.\r\n");
  prompt(Stage::NewPassword);
}

// The gate checks it off the loop, the same words and time answering an
// unknown id as a wrong password.
void Call::passwordTyped(std::string password) {
  stage_ = Stage::Checking;
  timeout_.cancel();
  auto self = shared_from_this();
  const Guesser who{ip_, address_, "", channel_};
  board_.gate().check(who, userid_, std::move(password),
                      [self](Answer answer, const std::string&) { self->checked(answer); });
}

void Call::checked(Answer answer) {
  board_.advance();
  if (stage_ != Stage::Checking || channel_ < 0) return;  // the call ended meanwhile
  if (answer == Answer::Blocked) {
    write("\r\nToo many failed log-ons from your address. Please call back later.\r\n");
    board_.hangUp(channel_);
    return;
  }
  if (answer == Answer::Unknown) {
    refused();
    return;
  }
  const bool good = answer == Answer::Good;
  for (const auto& other : board_.calls()) {
    if (good && other && other.get() != this && other->signedOn() &&
        simhost::text::equalFolded(other->userid(), userid_)) {
      write("\r\n" + userid_ + " is on line already, on another channel.\r\n");
      board_.hangUp(channel_);
      return;
    }
  }
  simhost::Arrival arrival;
  arrival.channel = channel_;
  arrival.userid = userid_;
  arrival.badpassword = !good;
  std::string why;
  switch (simhost::logonAtPrompt(arrival, kLoginId, &why)) {
    case simhost::Verdict::Accepted:
      if (board_.config().behind.on()) {
        carry();
        return;
      }
      write("\r\nWelcome, " + userid_ +
            ". You are in the teleconference: type to talk, /who lists who is on,"
            " /quit leaves.\r\n");
      prompt(Stage::On);
      connection_.pump();
      return;
    case simhost::Verdict::Rejected:
      if (good) board_.failedLogon(ip_);  // a wrong one was counted when handed out
      refused();
      return;
    case simhost::Verdict::Ended:
      // The module ended the visit (a delay), and the host has closed the
      // call; or the host would not take the log-on at all.
      if (!why.empty() && channel_ >= 0) {
        write("\r\nThe board cannot take your log-on now.\r\n");
        board_.hangUp(channel_);
      }
      return;
  }
}

// A refused try: again from the user-id, or the end of the call.
void Call::refused(const char* why) {
  write(why);
  if (++tries_ >= kTries) {
    write("Too many tries. Goodbye.\r\n");
    board_.hangUp(channel_);
    return;
  }
  userid_.clear();
  prompt(Stage::UserId);
  connection_.pump();
}

void Call::newPasswordTyped(std::string password) {
  if (stage_ == Stage::NewPassword) {
    if (password.empty()) {
      prompt(Stage::NewPassword);
      return;
    }
    firstPassword_ = std::move(password);
    prompt(Stage::NewAgain);
    return;
  }
  const bool same = password == firstPassword_;
  forgetText(&firstPassword_);
  if (!same) {
    refused("\r\nThe two passwords differ.\r\n");
    return;
  }
  stage_ = Stage::Checking;
  timeout_.cancel();
  board_.gate().hashNew(std::move(password), [self = shared_from_this()](const std::string& hash) {
    self->signUp(hash);
  });
}

// The hash and the new account are stored, then the caller logs on by the
// host's route like anyone else. The hash goes first: a kill between the two
// leaves a password with no account, which the board's start removes, so a
// sign-up is whole or absent; a refused account write undoes the hash.
void Call::signUp(const std::string& hash) {
  board_.advance();
  if (stage_ != Stage::Checking || channel_ < 0) return;
  std::string problem;
  if (hash.empty()) {
    problem = "the password could not be hashed";
  } else if (board_.passwords().hashOf(userid_) || accountExists(userid_)) {
    problem = "the user-id was taken meanwhile";
  } else {
    problem = board_.passwords().store(userid_, hash);
    if (problem.empty()) {
      problem = simhost::storeAccount(userid_, board_.config().newUserKeys, false);
      if (!problem.empty()) board_.passwords().remove(userid_);  // else gone at the next start
    }
  }
  if (!problem.empty()) {
    simhost::warning("new user " + simhost::quote(userid_) + ": " + problem);
    write("\r\nYour account could not be made. Please call back later.\r\n");
    board_.hangUp(channel_);
    return;
  }
  simhost::emit({.kind = simhost::EventKind::NewUser, .channel = channel_, .userid = userid_});
  stage_ = Stage::Checking;
  checked(Answer::Good);
}

void Call::conference(const std::string& text) {
  armTimeout();
  if (text == "/quit") {
    leave();
    return;
  }
  if (text == "/who") {
    std::string list = "On line:\r\n";
    for (const auto& other : board_.calls()) {
      if (!other || !other->signedOn()) continue;
      list += "  " + other->userid() + " (channel " + std::to_string(other->channel()) + ")\r\n";
    }
    write(list);
    return;
  }
  if (text.empty()) return;
  switch (talk_.take(LiveClock::Steady::now())) {
    case TalkBucket::Verdict::Pass:
      break;
    case TalkBucket::Verdict::Drop:
      return;
    case TalkBucket::Verdict::DropAndTell:
      write("(You type faster than the teleconference takes: " +
            std::to_string(board_.config().talk.burst) + " lines, then " +
            std::to_string(board_.config().talk.perSecond) +
            " a second. Lines past that are dropped.)\r\n");
      return;
  }
  const std::string said = userid_ + ": " + text + "\r\n";
  for (const auto& other : board_.calls()) {
    if (other && other.get() != this && other->signedOn()) other->write(said);
  }
}

void Call::leave() {
  write("Goodbye.\r\n");
  board_.hangUp(channel_);
}

}  // namespace board
