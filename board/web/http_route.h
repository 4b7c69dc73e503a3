// What the web listener asks of the pages it serves, with no HTTP library
// in sight: a request as read (bounded by the listener), an answer, and a
// stream of events kept open for a page that watches, and an answer given
// later (work done off the loop). The listener tries its routes in order;
// the first that answers wins.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace board {

struct HttpRequest {
  std::string method;                          // "GET", "POST", ...
  std::string target;                          // path and query, as sent
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;                            // at most the listener's body limit
  std::string ip;                              // the caller's address (the proxy's rule applied)
  bool tls = false;                            // over HTTPS, or the trusted proxy's page was
  std::string header(const std::string& lowerName) const {
    const auto found = headers.find(lowerName);
    return found == headers.end() ? std::string() : found->second;
  }
};

// Takes one chunk for a stream kept open; false once the client has gone,
// when the route drops the sink. An empty chunk ends the stream: the
// connection closes once what came before it is written.
using EventSink = std::function<bool(const std::string& chunk)>;

struct HttpResponse;
// Called once, on the loop's thread, with the answer that was deferred.
using HttpAnswer = std::function<void(HttpResponse)>;
// Whether the client still waits for a deferred answer: false once its
// connection has gone (or timed out), when the answer would reach nobody.
using Waiting = std::function<bool()>;

struct HttpResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  // Beside the listener's own; a Content-Security-Policy here is kept.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // Set for a stream (Server-Sent Events): the listener sends the head and
  // the body, then hands the route a sink for what follows.
  std::function<void(EventSink)> stream;
  // Set for an answer not ready yet (a password checked on the hashing
  // workers): the listener sends nothing, calls `later` with a function
  // that sends the real answer and one that says whether the client still
  // waits, and keeps the connection waiting (to its own time limit); the
  // connection closes after the answer. The rest of this response is not
  // used.
  std::function<void(HttpAnswer, Waiting)> later;
};

// A plain-text answer: a refusal, a status with a line of words.
inline HttpResponse textAnswer(int status, std::string body) {
  HttpResponse answer;
  answer.status = status;
  answer.body = std::move(body);
  return answer;
}

using HttpRoute = std::function<std::optional<HttpResponse>(const HttpRequest&)>;

}  // namespace board
