// The host key read from DIR, or made and written there at the first start,
// with its fingerprint; never replaced when it is there but unusable.
#include "board/ssh/ssh_host_key.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "simhost/simhost.h"

namespace board {

namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
  throw simhost::Fatal(
      1, path + ": " + why + "; the SSH host key is not replaced: mend or " + "remove the file");
}

std::string fingerprintOf(ssh_key key) {
  ssh_key pub = nullptr;
  unsigned char* hash = nullptr;
  std::size_t length = 0;
  std::string out;
  if (ssh_pki_export_privkey_to_pubkey(key, &pub) == SSH_OK &&
      ssh_get_publickey_hash(pub, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) == 0) {
    char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
    if (text) out = text;
    ssh_string_free_char(text);
  }
  ssh_clean_pubkey_hash(&hash);
  ssh_key_free(pub);
  return out;
}

// Written whole under a temporary name with mode 0600 from the start, then
// renamed, so a start killed half-way leaves no half key behind.
void writeKey(const std::string& path, ssh_key key) {
  char* text = nullptr;
  if (ssh_pki_export_privkey_base64(key, nullptr, nullptr, nullptr, &text) != SSH_OK)
    throw simhost::Fatal(1, path + ": the new host key cannot be written");
  const std::string temporary = path + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const std::size_t size = std::strlen(text);
  bool ok = fd >= 0 && ::fchmod(fd, 0600) == 0 &&
            ::write(fd, text, size) == static_cast<ssize_t>(size) && ::fsync(fd) == 0;
  const int saved = errno;
  ssh_string_free_char(text);
  if (fd >= 0) ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    throw simhost::Fatal(
        1, path + ": cannot write the new host key: " + std::strerror(saved ? saved : errno));
  }
}

}  // namespace

HostKey loadHostKey(const std::string& path) {
  HostKey out;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) refuse(path, std::strerror(errno));
    if (ssh_pki_generate(SSH_KEYTYPE_ED25519, 0, &out.key) != SSH_OK)
      throw simhost::Fatal(1, path + ": an Ed25519 key cannot be made");
    writeKey(path, out.key);
    out.made = true;
  } else {
    if (!S_ISREG(st.st_mode)) refuse(path, "not a regular file");
    if ((st.st_mode & 077) != 0) {
      char mode[8];
      std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
      refuse(path, std::string("mode ") + mode + ", readable by others; it must be 0600");
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in.is_open()) text << in.rdbuf();
    if (!in.is_open() || in.bad())
      refuse(path, std::string("cannot be read: ") + std::strerror(errno));
    if (ssh_pki_import_privkey_base64(text.str().c_str(), nullptr, nullptr, nullptr, &out.key) !=
            SSH_OK ||
        ssh_key_type(out.key) != SSH_KEYTYPE_ED25519)
      refuse(path, "damaged: not an OpenSSH Ed25519 private key");
  }
  out.fingerprint = fingerprintOf(out.key);
  return out;
}

}  // namespace board
