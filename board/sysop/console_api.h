// The sysop's console as routes, apart from the board: signing in and out,
// the session and CSRF rules, the JSON API and the live stream. What it
// shows and does comes from a ConsoleHost (the board's, or a test's).
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <string>

#include "board/sysop/console_sessions.h"
#include "board/sysop/verbs.h"
#include "board/web/http_route.h"

namespace board {

class ConsoleHost {
 public:
  virtual ~ConsoleHost() = default;
  enum class Check { Good, Wrong, Unknown, Blocked };
  // USER's password checked off the loop, counted in the throttle for IP
  // and wiped; DONE is called on the loop's thread with the user-id as the
  // board keeps it.
  virtual void checkPassword(const std::string& user, std::string password, const std::string& ip,
                             std::function<void(Check, const std::string& userid)> done) = 0;
  virtual bool holdsKey(const std::string& user) = 0;
  virtual bool stopping() = 0;
  // The JSON of a look of the verb table the console may ask.
  virtual std::string view(const std::string& what) = 0;
  // A change of the verb table the console may ask, done in the name of
  // BY; a kick that names USERID is refused when the channel no longer
  // holds that user. An error is answered 409.
  virtual SysopDone act(const std::string& verb, const std::string& operand,
                        const std::optional<std::string>& userid, const std::string& by) = 0;
  // The page's files by name (console.html, console.js, console.css).
  virtual std::string asset(const std::string& name) = 0;
};

class Console : public std::enable_shared_from_this<Console> {
 public:
  Console(ConsoleHost& host, ConsoleSessions::Clock now) : host_(host), sessions_(std::move(now)) {}
  std::optional<HttpResponse> answer(const HttpRequest& request);
  // Sends the live state to every watching page whose session still
  // holds, when it has changed since the last push (or FORCE).
  void push(bool force = false);
  std::size_t sessions() const { return sessions_.size(); }

 private:
  struct Watcher {
    std::string token;
    EventSink sink;
  };
  HttpResponse signIn(const HttpRequest& request);
  HttpResponse api(const HttpRequest& request, const std::string& name);
  HttpResponse change(const Verb& verb, const std::string& body,
                      const ConsoleSessions::Session& session);
  HttpResponse events(const std::string& token);
  std::string state();
  bool sessionHolds(const ConsoleSessions::Session& s);

  ConsoleHost& host_;
  ConsoleSessions sessions_;
  std::list<Watcher> watchers_;
  std::string lastState_;
};

// The token of the console's cookie in a request, or "".
std::string consoleCookie(const HttpRequest& request);
inline constexpr char kConsoleCookie[] = "zgconsole";

}  // namespace board
