// What the library must never do to its host: show a password, hand its files and connections to the
// processes the host starts, or block on a configuration name that is no file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../config/ini_fixture.h"
#include "config/ini_store.h"
#include "error/qrm_exception.h"
#include "log/file_writer.h"
#include "support/http_test_server.h"
#include "transport/http_interface.h"
#include "util/ucstring.h"
#include "util/uri.h"

extern char** environ;

namespace hcs {
namespace {

struct MaskCase {
  const char* uri;
  const char* shown;
};

void PrintTo(const MaskCase& c, std::ostream* out) { *out << c.uri; }

class PasswordMask : public ::testing::TestWithParam<MaskCase> {};

TEST_P(PasswordMask, HidesThePasswordWhateverItHolds) {
  EXPECT_EQ(toStdString(maskedUri(UCString(GetParam().uri))), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PasswordMask,
    ::testing::Values(MaskCase{"pg://user:s3cr/et@host:5432/db", "pg://user:****@host:5432/db"},
                      MaskCase{"pg://u:a@b@host/db", "pg://u:****@host/db"},
                      MaskCase{"pg://u:p:w@host/db", "pg://u:****@host/db"},
                      MaskCase{"pg://u:p%40?#@host/db?fetching=5", "pg://u:****@host/db?fetching=5"},
                      MaskCase{"mssql://se/cret@server/", "mssql://****@server/"},
                      MaskCase{"pg://u:@host/db", "pg://u:@host/db"},
                      MaskCase{"sqlite:///tmp/a:b@c.db", "sqlite:///tmp/a:b@c.db"}));

// "socket:[inode]" or the path of each descriptor of this process.
std::string target(int fd) {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).string();
}

// What a child the host starts sees: `ls -l /proc/self/fd` run through posix_spawn (fork and exec).
std::string childDescriptors() {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return "no pipe";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  char ls[] = "/bin/ls", longFormat[] = "-l", dir[] = "/proc/self/fd";
  char* argv[] = {ls, longFormat, dir, nullptr};
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, ls, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string listing;
  char buffer[4096];
  for (ssize_t n; spawned == 0 && (n = ::read(out[0], buffer, sizeof buffer)) > 0;) listing.append(buffer, n);
  ::close(out[0]);
  int status = 0;
  if (spawned == 0) ::waitpid(pid, &status, 0);
  return spawned == 0 ? listing : "spawn failed";
}

TEST(HostDescriptors, ChildProcessesInheritNeitherTheLogFileNorTheConnection) {
  test::TempDir dir;
  CFileWriter log;
  log.init(CUri(UCString("file://" + dir.file("host.log"))));
  log.write(u"L", u"m", u"INFO", {icu::UnicodeString(u"line")});
  test::HttpTestServer server;
  OHTTP http(CUri(UCString(server.uri("/x"))), 5000, 1);
  icu::UnicodeString status;
  icu::UnicodeString reply;
  ASSERT_EQ(http.send(nullptr, u"<X/>", status, &reply), 0);
  ASSERT_EQ(http.idleConnections(), 1u);

  // The client's end of the kept connection (the socket whose peer is the service), and every TCP socket.
  std::string connection;
  std::vector<std::string> tcpSockets;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename().string());
    int domain = 0;
    socklen_t size = sizeof domain;
    if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0 ||
        (domain != AF_INET && domain != AF_INET6)) {
      continue;
    }
    tcpSockets.push_back(target(fd));
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
        ntohs(peer.sin_port) == server.port()) {
      connection = target(fd);
    }
  }
  ASSERT_FALSE(connection.empty());

  const std::string listing = childDescriptors();
  ASSERT_NE(listing.find(" 1 -> pipe:"), std::string::npos) << listing;  // the child did list
  EXPECT_EQ(listing.find(dir.file("host.log")), std::string::npos) << listing;
  // libcurl's wake-up socket pair (AF_UNIX) is inherited: libcurl gives no way to mark it.
  for (const std::string& socket : tcpSockets) EXPECT_EQ(listing.find(socket), std::string::npos) << listing;
  log.close();
}

struct ConfigCase {
  const char* name;
  std::function<std::string(const test::TempDir&)> make;  // the CONFIG_FILE name
};

void PrintTo(const ConfigCase& c, std::ostream* out) { *out << c.name; }

class ConfigFileKind : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigFileKind, IsRefusedAtOnceAsUnreadable) {
  test::TempDir dir;
  const std::string name = GetParam().make(dir);
  // On its own thread, so that a load that blocks fails the test instead of hanging it.
  auto outcome = std::make_shared<std::promise<std::string>>();
  std::thread([name, outcome] {
    try {
      CCMEParameterINIStore store(name.c_str(), u"APP", nullptr, 0);
      outcome->set_value("read");
    } catch (const QRM_Exception& e) {
      outcome->set_value(test::describe(e));
    }
  }).detach();
  auto result = outcome->get_future();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready) << name << " blocked";
  EXPECT_EQ(result.get(), "9113E|Failed to open ini file for reading [" + name + "]|4");
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConfigFileKind,
    ::testing::Values(ConfigCase{"directory", [](const test::TempDir& d) { return d.file(""); }},
                      ConfigCase{"fifo",
                                 [](const test::TempDir& d) {
                                   const std::string fifo = d.file("fifo.ini");
                                   EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
                                   return fifo;
                                 }},
                      ConfigCase{"endless_device",
                                 [](const test::TempDir&) { return std::string("/dev/zero"); }},
                      ConfigCase{"over_16_MiB",
                                 [](const test::TempDir& d) {
                                   const std::string big = d.write("big.ini", "[ATTR_URI]\n");
                                   std::filesystem::resize_file(
                                       big, CCMEParameterINIStore::kMaxFileBytes + 1);  // sparse
                                   return big;
                                 }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hcs
