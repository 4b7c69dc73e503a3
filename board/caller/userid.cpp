// A typed user-id made the one the host keeps, or refused with the reason:
// the host's character rule for the first character, printable text after.
#include "board/caller/userid.h"

#include "host/host.h"

namespace board {

namespace {

// Blanks at the ends dropped, runs inside folded: `Gus  Guest` and
// `Gus Guest` are one user, as they look the same in every listing.
std::string folded(std::string_view typed) {
  std::string id;
  for (char c : typed) {
    if (c == ' ' && (id.empty() || id.back() == ' ')) continue;
    id += c;
  }
  if (!id.empty() && id.back() == ' ') id.pop_back();
  return id;
}

}  // namespace

std::string userIdProblem(std::string_view typed) {
  const std::string id = folded(typed);
  if (id.empty()) return "a user-id cannot be empty";
  if (id.size() >= USERID_SIZE) {
    return "a user-id is at most " + std::to_string(USERID_SIZE - 1) + " characters";
  }
  for (unsigned char c : id) {
    if (c < 0x20 || c > 0x7e) return "a user-id may hold only printable ASCII characters";
  }
  if (!isuidc(id.front())) return "a user-id cannot begin with ( or )";
  return "";
}

std::optional<std::string> userIdFromTyped(std::string_view typed) {
  if (!userIdProblem(typed).empty()) return std::nullopt;
  return folded(typed);
}

}  // namespace board
