// The console's routes: the page's files, sign-in through the hashing
// workers (answered later), the session and CSRF checks before anything
// is shown or done, and the stream of live state for watching pages.
#include "board/sysop/console_api.h"

#include <sodium.h>

#include "simhost/text.h"

#include "board/sysop/json.h"
#include "board/web/web_rules.h"

namespace board {

namespace {

const char kApi[] = "/console/api/";

HttpResponse json(int status, std::string body) {
  HttpResponse r;
  r.status = status;
  r.contentType = "application/json";
  r.headers.emplace_back("Cache-Control", "no-store");
  r.body = std::move(body);
  return r;
}

HttpResponse failure(int status, const std::string& why) {
  return json(status, "{\"error\":" + jsonString(why) + "}");
}

HttpResponse wrongMethod(const std::string& what, const char* allowed) {
  HttpResponse r = failure(405, what + " takes " + allowed);
  r.headers.emplace_back("Allow", allowed);
  return r;
}

// Whether a POST may be taken at all: a JSON body (no form or text/plain
// a foreign page could send without asking), from the console's own page
// or from no browser. Said before any password is checked.
std::optional<HttpResponse> foreignPost(const HttpRequest& request) {
  std::string type = request.header("content-type");
  type = type.substr(0, type.find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
  if (!simhost::text::equalFolded(type, "application/json"))
    return failure(415, "the body must be sent as application/json");
  if (!originAllowed(request.header("origin"), request.header("host"), request.tls))
    return failure(403, "not from the console's own page");
  return std::nullopt;
}

std::string cookieFor(const std::string& token, bool tls, bool ending) {
  return std::string(kConsoleCookie) + "=" + token + "; HttpOnly; SameSite=Strict; Path=/console" +
         (tls ? "; Secure" : "") + (ending ? "; Max-Age=0" : "");
}

bool sameSecret(const std::string& a, const std::string& b) {
  return a.size() == b.size() && !a.empty() && sodium_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::string consoleCookie(const HttpRequest& request) {
  const std::string all = request.header("cookie");
  const std::string want = std::string(kConsoleCookie) + "=";
  for (std::size_t at = 0; at < all.size();) {
    while (at < all.size() && (all[at] == ' ' || all[at] == ';')) ++at;
    const std::size_t end = std::min(all.find(';', at), all.size());
    if (all.compare(at, want.size(), want) == 0)
      return all.substr(at + want.size(), end - at - want.size());
    at = end;
  }
  return "";
}

std::optional<HttpResponse> Console::answer(const HttpRequest& request) {
  const std::string path = request.target.substr(0, request.target.find('?'));
  if (path != "/console" && path.rfind("/console/", 0) != 0) return std::nullopt;
  if (host_.stopping()) {
    sessions_.closeAll();
    return failure(503, "the board is going down");
  }
  if (path.rfind(kApi, 0) != 0) {
    if (request.method != "GET") return wrongMethod(path, "GET, HEAD");
    const std::string name =
        path == "/console" || path == "/console/" ? "console.html" : path.substr(9);
    const std::string body = host_.asset(name);
    if (body.empty()) return failure(404, "no such page " + path);
    HttpResponse r;
    r.contentType = name.ends_with(".js")    ? "text/javascript; charset=utf-8"
                    : name.ends_with(".css") ? "text/css; charset=utf-8"
                                             : "text/html; charset=utf-8";
    r.headers.emplace_back("Content-Security-Policy",
                           "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
    r.headers.emplace_back("X-Content-Type-Options", "nosniff");
    r.body = body;
    return r;
  }
  const std::string name = path.substr(sizeof kApi - 1);
  if (request.method == "POST") {
    if (auto refused = foreignPost(request)) return *refused;
  }
  if (name == "signin") {
    if (request.method != "POST") return wrongMethod(name, "POST");
    return signIn(request);
  }
  return api(request, name);
}

HttpResponse Console::signIn(const HttpRequest& request) {
  const JsonFields f = readJsonFields(request.body, {"user", "password"});
  if (!f.error.empty()) return failure(400, f.error);
  const std::string user = f.values.at("user");
  const bool tls = request.tls;
  HttpResponse later;
  std::weak_ptr<Console> weak = weak_from_this();
  later.later = [weak, user, password = f.values.at("password"), ip = request.ip, tls](
                    const HttpAnswer& send, const Waiting& waiting) mutable {
    auto self = weak.lock();
    if (!self) return send(failure(503, "the console has closed"));
    self->host_.checkPassword(
        user, std::move(password), ip,
        [weak, tls, send, waiting](ConsoleHost::Check c, const std::string& user) {
          auto self = weak.lock();
          if (!self) return send(failure(503, "the console has closed"));
          // A client gone before its answer gets no session to hold a slot.
          if (!waiting()) return;
          if (c == ConsoleHost::Check::Blocked)
            return send(
                failure(429, "Too many failed log-ons from your address. Please call back later."));
          if (c != ConsoleHost::Check::Good)
            return send(failure(401, "Wrong user-id or password."));
          if (!self->host_.holdsKey(user))
            return send(failure(403, "this account does not hold the console key"));
          const std::optional<std::string> token = self->sessions_.open(user);
          if (!token)
            return send(failure(503, std::to_string(kConsoleSessions) +
                                         " console sessions are open: sign out of one, or wait"
                                         " until one has gone 30 minutes unused"));
          HttpResponse ok = json(200, "{\"user\":" + jsonString(user) + ",\"csrf\":" +
                                          jsonString(self->sessions_.peek(*token)->csrf) + "}");
          ok.headers.emplace_back("Set-Cookie", cookieFor(*token, tls, false));
          send(std::move(ok));
        });
  };
  return later;
}

bool Console::sessionHolds(const ConsoleSessions::Session& s) { return host_.holdsKey(s.userid); }

HttpResponse Console::api(const HttpRequest& request, const std::string& name) {
  const std::string token = consoleCookie(request);
  // Looking is no use: only a change the sysop makes keeps the session.
  const ConsoleSessions::Session* s = sessions_.peek(token);
  if (s && !sessionHolds(*s)) {
    sessions_.close(token);
    s = nullptr;
  }
  if (!s) return failure(401, "not signed in to the console");
  // The session's own requests beside the sysop's verbs.
  const Verb* verb = findVerb(name, Reach::Console);
  const bool view = (verb && isLook(*verb)) || name == "events" || name == "session";
  if (!view && !verb && name != "signout") return failure(404, "no such request " + name);
  if (request.method != (view ? "GET" : "POST")) return wrongMethod(name, view ? "GET" : "POST");
  if (name == "events") return events(token);
  if (name == "session")
    return json(200,
                "{\"user\":" + jsonString(s->userid) + ",\"csrf\":" + jsonString(s->csrf) + "}");
  if (view) return json(200, host_.view(name));
  if (!sameSecret(request.header("x-csrf-token"), s->csrf))
    return failure(403, "the X-CSRF-Token header is missing or wrong; nothing was changed");
  s = sessions_.use(token);
  if (name == "signout") {
    sessions_.close(token);
    HttpResponse r = json(200, "{\"done\":\"signed out\"}");
    r.headers.emplace_back("Set-Cookie", cookieFor("", request.tls, true));
    return r;
  }
  return change(*verb, request.body, *s);
}

HttpResponse Console::change(const Verb& verb, const std::string& body,
                             const ConsoleSessions::Session& session) {
  const std::string member = verb.member;
  // A kick may name the user-id the sysop saw on the channel too.
  JsonFields f = readJsonFields(body, {member});
  std::optional<std::string> userid;
  if (verb.namesSeen && !f.error.empty()) {
    JsonFields both = readJsonFields(body, {member, "user"});
    if (both.error.empty()) userid = both.values.at("user");
    if (both.error.empty() || body.find("\"user\"") != std::string::npos) f = std::move(both);
  }
  if (!f.error.empty()) return failure(400, f.error);
  const SysopDone done = host_.act(verb.name, f.values.at(member), userid, session.userid);
  if (!done.error.empty()) return failure(409, done.error);
  push();
  return json(200, "{\"done\":" + jsonString(done.said) + "}");
}

HttpResponse Console::events(const std::string& token) {
  HttpResponse r;
  r.contentType = "text/event-stream";
  r.headers.emplace_back("Cache-Control", "no-store");
  std::weak_ptr<Console> weak = weak_from_this();
  r.stream = [weak, token](EventSink sink) {
    auto self = weak.lock();
    if (!self) return;
    if (!sink("event: state\ndata: " + self->state() + "\n\n")) return;
    self->watchers_.push_back({token, std::move(sink)});
  };
  return r;
}

std::string Console::state() {
  return "{\"who\":" + host_.view("who") + ",\"delays\":" + host_.view("delays") +
         ",\"blocked\":" + host_.view("blocked") + "}";
}

void Console::push(bool force) {
  if (watchers_.empty()) return;
  const std::string now = state();
  const bool changed = now != lastState_;
  lastState_ = now;
  for (auto it = watchers_.begin(); it != watchers_.end();) {
    const ConsoleSessions::Session* s = host_.stopping() ? nullptr : sessions_.peek(it->token);
    if (!s || !sessionHolds(*s)) {
      it->sink("event: end\ndata: {}\n\n");
      it->sink("");  // and the connection closes
      it = watchers_.erase(it);
      continue;
    }
    const bool sent = changed ? it->sink("event: state\ndata: " + now + "\n\n")
                              : !force || it->sink(": still here\n\n");
    it = sent ? std::next(it) : watchers_.erase(it);
  }
}

}  // namespace board
