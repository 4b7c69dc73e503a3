// Dropping root to a directory's owner for the account and control
// commands: the supplementary groups, the group and the user, in that order.
#include "board/tools/run_as.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "board/tools/accounts.h"

namespace board {

namespace {

struct Owner {
  uid_t uid;
  gid_t gid;
  std::string name;  // the uid in digits when it has no name
};

bool become(const Owner& owner, bool named) {
  const int groups = named ? ::initgroups(owner.name.c_str(), owner.gid) : ::setgroups(0, nullptr);
  return groups == 0 && ::setgid(owner.gid) == 0 && ::setuid(owner.uid) == 0 &&
         ::setuid(0) != 0;  // and root cannot be taken back
}

}  // namespace

void actAsOwnerOf(const std::string& dir) {
  if (::geteuid() != 0) return;
  struct stat st {};
  if (::stat(dir.c_str(), &st) != 0 || st.st_uid == 0) return;
  const struct passwd* pw = ::getpwuid(st.st_uid);
  const Owner owner{st.st_uid, pw != nullptr ? pw->pw_gid : st.st_gid,
                    pw != nullptr ? pw->pw_name : std::to_string(st.st_uid)};
  if (become(owner, pw != nullptr)) return;
  const std::string why = std::strerror(errno);
  throw CommandFailure{
      1, dir + ": owned by " + owner.name + ", and root could not act as that user (" + why +
             "); run the command as " + owner.name + " (sudo -u " + owner.name + " ...)"};
}

}  // namespace board
