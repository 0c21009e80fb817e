// What the library must never do to its host: hand its files and connections to the processes the host
// starts.
#include <cstdio>
#include <filesystem>
#include <string>

#include <sys/socket.h>

#include <gtest/gtest.h>

#include "config/ini_fixture.h"
#include "log/file_writer.h"
#include "support/http_test_server.h"
#include "transport/http_interface.h"
#include "util/uri.h"

namespace hcs {
namespace {

TEST(HostDescriptors, ChildProcessesInheritNeitherTheLogFileNorTheConnection) {
  test::TempDir dir;
  CFileWriter log;  // opens its file on the first write
  log.init(CUri(UCString("file://" + dir.file("host.log"))));
  log.write(u"L", u"m", u"INFO", {icu::UnicodeString(u"line")});
  test::HttpTestServer server;
  OHTTP http(CUri(UCString(server.uri("/x"))), 5000, 1);
  icu::UnicodeString status, reply;
  ASSERT_EQ(http.send(nullptr, u"<X/>", status, &reply), 0);
  ASSERT_EQ(http.idleConnections(), 1u);

  // A child the host starts (popen forks and execs): what does it hold?
  std::FILE* child = ::popen("exec ls -l /proc/self/fd", "re");
  ASSERT_NE(child, nullptr);
  std::string listing;
  for (int c; (c = std::fgetc(child)) != EOF;) listing += static_cast<char>(c);
  ::pclose(child);
  ASSERT_NE(listing.find(" 1 -> pipe:"), std::string::npos) << listing;
  EXPECT_EQ(listing.find(dir.file("host.log")), std::string::npos) << listing;
  // No TCP socket of ours, the kept connection included (libcurl's AF_UNIX wake-up pair cannot be marked).
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    int domain = 0;
    socklen_t size = sizeof domain;
    if (::getsockopt(std::stoi(entry.path().filename()), SOL_SOCKET, SO_DOMAIN, &domain, &size) == 0 &&
        domain == AF_INET) {
      EXPECT_EQ(listing.find(std::filesystem::read_symlink(entry.path()).string()), std::string::npos)
          << listing;
    }
  }
  log.close();
}

}  // namespace
}  // namespace hcs
