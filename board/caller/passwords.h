// The board's passwords: Argon2id hashes (libsodium's crypto_pwhash_str at
// the interactive limits) kept in a file of their own, passwords.dat in DIR,
// never in the account record and never traced or logged.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace board {

// Hashing and checking are slow on purpose and touch no host state, so the
// board runs them on its worker pool. hashPassword throws std::runtime_error
// when the memory it needs cannot be had.
std::string hashPassword(const std::string& password);
bool verifyPassword(const std::string& hash, const std::string& password);
// A hash of no one's password: an unknown user-id is checked against it, so
// a refusal takes as long whether or not the user-id exists.
const std::string& dummyHash();

// passwords.dat: one row per user-id, compared ignoring ASCII case; every
// change durable when the call returns. Used from one thread only.
class PasswordFile {
 public:
  // Opens or creates the file; throws simhost::Fatal(1, "passwords.dat: ...").
  explicit PasswordFile(const std::string& path);
  ~PasswordFile();
  PasswordFile(const PasswordFile&) = delete;
  PasswordFile& operator=(const PasswordFile&) = delete;

  std::optional<std::string> hashOf(const std::string& userid);
  std::vector<std::string> userids();  // every user-id with a password
  // Each answers "" when done, else the reason (also a host warning).
  std::string store(const std::string& userid, const std::string& hash);
  std::string remove(const std::string& userid);

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace board
