// What the library must never do to its host: hand its files and connections to the processes the host
// starts, or block on a configuration name that is no file.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "../config/ini_fixture.h"
#include "config/ini_store.h"
#include "error/qrm_exception.h"
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

class ConfigFileKind : public ::testing::TestWithParam<const char*> {};

TEST_P(ConfigFileKind, IsRefusedAtOnce) {
  test::TempDir dir;
  std::string name = GetParam();
  if (name == "fifo") {
    name = dir.file("fifo.ini");
    ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
  } else if (name == "big") {
    name = dir.write("big.ini", "[ATTR_URI]\n");
    std::filesystem::resize_file(name, CCMEParameterINIStore::kMaxFileBytes + 1);  // sparse
  }
  try {
    CCMEParameterINIStore store(name.c_str(), u"APP", nullptr, 0);
    ADD_FAILURE() << name << " was read";
  } catch (const QRM_Exception& e) {
    EXPECT_EQ(toStdString(e.entry(0).message().code()), "9113E") << name;
    EXPECT_EQ(e.what(), "Failed to open ini file for reading [" + name + "]");
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ConfigFileKind, ::testing::Values("fifo", "/dev/zero", "big", "/"));

}  // namespace
}  // namespace hcs
