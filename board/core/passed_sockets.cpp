// The sockets systemd passes, by name: taken at the start, checked to be
// listening TCP sockets, and handed to the listener each is named for.
#include "board/core/passed_sockets.h"

#include <sys/socket.h>
#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

#include "board/core/address.h"
#include "simhost/simhost.h"

namespace board {

namespace {

// A socket unit's FileDescriptorName= and the flag of the listener it is for.
struct Named {
  const char* name;
  const char* flag;
};
constexpr Named kNames[] = {
    {"telnet", "--listen"}, {"ssh", "--ssh"}, {"web", "--web"}, {"metrics", "--metrics"}};

struct Passed {
  int fd;
  bool v6;      // the socket's family
  Endpoint at;  // where it listens
  bool taken;   // a listener's acceptor owns it
};

// By the flag of the listener each is for.
std::map<std::string, Passed>& passed() {
  static std::map<std::string, Passed> sockets;
  return sockets;
}

const char* flagNamed(const std::string& name) {
  for (const Named& n : kNames)
    if (name == n.name) return n.flag;
  return nullptr;
}

// The passed socket FD, with the address it listens on as the listener's
// flag takes it.
Passed described(int fd) {
  sockaddr_storage storage{};
  socklen_t size = sizeof storage;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &size);
  net::ip::tcp::endpoint e;
  std::memcpy(e.data(), &storage, std::min<std::size_t>(size, e.capacity()));
  e.resize(size);
  return {
      fd, storage.ss_family == AF_INET6, {plainAddress(e.address()).to_string(), e.port()}, false};
}

}  // namespace

void takePassedSockets() {
  char** names = nullptr;
  const int count = sd_listen_fds_with_names(1, &names);
  std::string fault;
  for (int k = 0; k < std::max(count, 0); ++k) {
    const int fd = SD_LISTEN_FDS_START + k;
    const std::string name = names && names[k] ? names[k] : "unknown";
    const char* flag = flagNamed(name);
    if (fault.empty() && !flag)
      fault = "systemd passed a socket named " + simhost::quote(name) +
              ": the board takes those named telnet, ssh, web or metrics (FileDescriptorName=)";
    else if (fault.empty() && passed().count(flag) != 0)
      fault = "systemd passed two sockets named " + simhost::quote(name);
    else if (fault.empty() && sd_is_socket_inet(fd, AF_UNSPEC, SOCK_STREAM, 1, 0) <= 0)
      fault = "systemd passed a socket named " + simhost::quote(name) +
              " that is not a listening TCP socket";
    else if (fault.empty())
      passed()[flag] = described(fd);
  }
  for (int k = 0; names && names[k]; ++k) std::free(names[k]);
  std::free(names);
  if (count < 0) fault = std::string("the sockets systemd passed: ") + std::strerror(-count);
  if (!fault.empty()) throw simhost::Fatal(2, fault);
}

void withPassedSockets(Config& config) {
  for (const auto& [flag, socket] : passed()) {
    const Endpoint& at = socket.at;
    if (flag == "--listen") {
      config.telnet = true;
      config.listenHost = at.host;
      config.port = at.port;
    } else if (flag == "--ssh") {
      config.ssh = true;
      config.sshHost = at.host;
      config.sshPort = at.port;
    } else {
      (flag == "--web" ? config.web : config.metrics) = at;
    }
  }
}

bool adoptPassedSocket(net::ip::tcp::acceptor& acceptor, const char* flag) {
  const auto found = passed().find(flag);
  if (found == passed().end() || found->second.taken) return false;
  Passed& socket = found->second;
  error_code error;
  acceptor.assign(socket.v6 ? net::ip::tcp::v6() : net::ip::tcp::v4(), socket.fd, error);
  if (error)
    throw simhost::Fatal(
        1, std::string(flag) + ": the socket systemd passed cannot be used: " + error.message());
  socket.taken = true;
  return true;
}

}  // namespace board
