// hcs serve over TLS as a user runs it, scored through the plugin by hcs score; what it says about files
// it cannot use; and hcs bench --tls, whose baselines must speak TLS as the plugin does.
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bench/service_child.h"
#include "integration/hcs/shell_run.h"
#include "support/temp_dir.h"
#include "support/tls_fixture.h"

namespace hcs {
namespace {

using test::shell;
using test::ShellRun;
using test::TestPki;

struct ServeTlsCase {
  const char* name;
  bool clientCa;  // the service requires a client certificate its CA signed
  std::function<std::string(const TestPki&)> query;
  std::string expected;  // hcs score's line for the pair (line, type, result, reply), a regular expression
};

void PrintTo(const ServeTlsCase& c, std::ostream* out) { *out << c.name; }

class HcsServeTls : public ::testing::TestWithParam<ServeTlsCase> {};

TEST_P(HcsServeTls, ScoresThroughThePluginOnlyWithTheCertificatesItAsksFor) {
  const ServeTlsCase& c = GetParam();
  const TestPki& pki = TestPki::get();
  std::vector<std::string> arguments{"--tls-cert", pki.server, "--tls-key", pki.serverKey};
  if (c.clientCa) arguments.insert(arguments.end(), {"--client-ca", pki.ca});
  const bench::ServiceChild service(HCS_TOOL_PATH, arguments);
  ASSERT_EQ(service.url().rfind("https://127.0.0.1:", 0), 0u) << service.url();

  const test::TempDir dir;
  const std::string ini =
      dir.write("hcs.ini", "[ATTR_URI]\nNAME=" + service.url() + "?" + c.query(pki) + "\n");
  const std::string pairs = dir.write("pairs.tsv", "NAME\tJon\tJohn\n");
  const ShellRun run =
      shell(std::string(HCS_TOOL_PATH) + " score --config " + ini + " --pairs " + pairs + " 2>/dev/null", 30);
  EXPECT_TRUE(std::regex_match(run.out.substr(0, run.out.find('\n')), std::regex(c.expected))) << run.out;
  EXPECT_EQ(run.status, c.expected.find("\t0\t") != std::string::npos ? 0 : 1) << run.out;
}

const auto caOnly = [](const TestPki& p) { return "caFile=" + p.ca; };
const auto withClientCertificate = [](const TestPki& p) {
  return "caFile=" + p.ca + "&certFile=" + p.client + "&keyFile=" + p.clientKey;
};
const std::string kScored = "1\tNAME\t0\t<SCORE_RESULT><SCORE>0.9333</SCORE></SCORE_RESULT>";

INSTANTIATE_TEST_SUITE_P(
    Cases, HcsServeTls,
    ::testing::Values(
        ServeTlsCase{"private_ca_in_ca_file", false, caOnly, kScored},
        ServeTlsCase{"client_certificate_required_and_given", true, withClientCertificate, kScored},
        // Refused in the handshake (TLS 1.2) or after it (1.3), where the service may close before the
        // plugin reads why: no score either way.
        ServeTlsCase{"client_certificate_required_and_missing", true, caOnly,
                     "1\tNAME\t-1\t<SCORE_RESULT><ERROR>HTTP Callout: .+</ERROR></SCORE_RESULT>"}),
    [](const auto& info) { return std::string(info.param.name); });

// A file the service cannot use stops it before it listens, naming the file and the reason.
TEST(HcsServeTlsFiles, SayWhichFileCannotBeUsedAndWhy) {
  const TestPki& p = TestPki::get();
  const test::TempDir dir;
  const std::string missing = dir.file("missing.pem");
  const std::pair<std::string, std::string> cases[] = {
      {"--tls-cert " + missing + " --tls-key " + p.serverKey, "cannot read " + missing + ": No such file"},
      {"--tls-cert " + p.serverKey + " --tls-key " + p.serverKey, "no certificate in " + p.serverKey + ": "},
      {"--tls-cert " + p.server + " --tls-key " + p.clientKey, "no usable key in " + p.clientKey + ": "},
      {"--tls-cert " + p.server + " --tls-key " + p.serverKey + " --client-ca " + p.serverKey,
       "no CA certificate in " + p.serverKey + ": "}};
  for (const auto& [arguments, message] : cases) {
    const ShellRun run = shell(std::string(HCS_TOOL_PATH) + " serve --port 0 " + arguments + " 2>&1", 20);
    EXPECT_EQ(run.status, 1) << arguments << ": " << run.out;
    EXPECT_EQ(run.out.rfind("hcs serve: " + message, 0), 0u) << arguments << ": " << run.out;
    EXPECT_EQ(run.out.find("listening"), std::string::npos) << run.out;
  }
}

// Every side that speaks TLS makes every call, over kept connections and over a new one per call; the
// floor, which cannot, is left out and the output says so; the throwaway CA is gone afterwards.
TEST(HcsBenchTls, MeasuresTheSidesThatSpeakTlsAndLeavesNoCaBehind) {
  for (const std::string connections : {"", " --reconnect", " --reconnect --no-resume"}) {
    const ShellRun run = shell(
        std::string(HCS_TOOL_PATH) + " bench --tls" + connections + " --calls 40 --rounds 2 --json", 120);
    ASSERT_EQ(run.status, 0) << connections << "\n" << run.out;
    EXPECT_NE(run.out.find("\"tls\": true, \"notes\": ["), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"floor left out: it speaks no TLS\"]"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("{\"name\": \"floor\""), std::string::npos) << run.out;
    size_t failedNone = 0;
    for (size_t at = run.out.find("\"failed\": 0,"); at != std::string::npos;
         at = run.out.find("\"failed\": 0,", at + 1))
      ++failedNone;
    EXPECT_EQ(failedNone, 3u) << connections << "\n" << run.out;
    const size_t ca = run.out.find("caFile=");
    ASSERT_NE(ca, std::string::npos) << run.out;
    const std::string caFile = run.out.substr(ca + 7, run.out.find('"', ca) - ca - 7);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(caFile).parent_path())) << caFile;
  }
}

}  // namespace
}  // namespace hcs
