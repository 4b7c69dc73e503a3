// Output and its consequences: the one output buffer (prf, prfmsg), its
// delivery (injoth, byenow), disconnection requests (bbsdsc, byenow) and
// audit-trail entries (shocst). A live host also gets each delivery.
#include "simhost/event.h"
#include "simhost/internal.h"
#include "simhost/state.h"

namespace simhost {

namespace {

// Appends message n, formatted; every problem gets a warning of its own.
void appendMessage(int n, const HostArg* args, int count) {
  std::string label;
  const std::string* text = messageText(n, &label);
  const std::string where = label.empty() ? std::string() : label + ": ";
  if (text == nullptr) {
    warning(where + "message " + std::to_string(n) +
            (label.empty() ? " is missing: no message file is current" : " is missing"));
    return;
  }
  std::vector<std::string> problems;
  state.output += formatChecked(*text, args, count, &problems);
  for (const std::string& problem : problems) {
    warning(where + "message " + std::to_string(n) + ": " + problem);
  }
}

void deliver(int ch) {
  if (!state.output.empty()) {
    emit({.kind = EventKind::Deliver, .channel = ch, .text = state.output});
    if (state.live.deliver) state.live.deliver(ch, state.output);
  }
  state.output.clear();
}

void requestDisconnection(int ch, const char* by) {
  if (!validChannel(ch)) {
    warning(std::string(by) + ": channel " + std::to_string(ch) +
            " is out of range; nothing to disconnect");
    return;
  }
  state.pending.push_back(ch);
}

}  // namespace

}  // namespace simhost

using namespace simhost;

extern "C" {

void prf(const char* text) {
  if (text != nullptr) state.output += text;
}

void prfmsgArgs(int n, const HostArg* args, int count) { appendMessage(n, args, count); }

void byenowArgs(int n, const HostArg* args, int count) {
  appendMessage(n, args, count);
  if (!validChannel(usrnum)) {
    warning("byenow: channel " + std::to_string(usrnum) +
            " is out of range; output discarded, nothing to disconnect");
    state.output.clear();
    return;
  }
  deliver(usrnum);
  requestDisconnection(usrnum, "byenow");
}

// Delivery to a channel out of range would reach nobody; the text is
// dropped with a warning rather than left for the next delivery.
int injoth() {
  if (!validChannel(othusn)) {
    warning("injoth: channel " + std::to_string(othusn) + " is out of range; output discarded");
    state.output.clear();
    return 0;
  }
  deliver(othusn);
  return 1;
}

void bbsdsc(int n) { requestDisconnection(n, "bbsdsc"); }

void shocstArgs(const char* summary, const char* detail, const HostArg* args, int count) {
  const std::string title = summary ? summary : "";
  std::vector<std::string> problems;
  const std::string text = detail ? formatChecked(detail, args, count, &problems) : std::string();
  for (const std::string& problem : problems) {
    warning("audit detail of " + title + ": " + problem);
  }
  emit({.kind = EventKind::Audit, .text = title, .detail = text});
}

}  // extern "C"
