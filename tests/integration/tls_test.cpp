// https callouts against real TLS services made here with a throwaway PKI: what each verification,
// pin, version and handshake failure tells the host, and that no key ever shows.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "plugin/callout_registry.h"
#include "plugin/score.h"
#include "support/capturing_dispatcher.h"
#include "support/http_test_server.h"
#include "support/temp_dir.h"
#include "support/tls_fixture.h"
#include "transport/callout.h"
#include "transport/callout_settings.h"
#include "transport/http_client.h"
#include "util/ucstring.h"

namespace hcs {
namespace {

using test::TestPki;
using test::TlsTestServer;

// Every line of the key files: none may reach a text the host, a log or the tool shows.
std::vector<std::string> secretLines() {
  std::vector<std::string> lines;
  const TestPki& pki = TestPki::get();
  for (const std::string& key : {pki.serverKey, pki.clientKey}) {
    const std::string text = test::TempDir::read(key);
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      const std::string line = text.substr(start, end - start);
      if (line.size() > 16 && !line.starts_with("-----")) lines.push_back(line);
    }
  }
  return lines;
}

void expectNoSecret(const std::string& text) {
  for (const std::string& secret : secretLines()) EXPECT_EQ(text.find(secret), std::string::npos) << text;
}

// Files one callout for `uri` as initPlugin would, and scores once: "<result>|<document>".
std::string scoreThrough(const std::string& uri, test::CapturingDispatcher& log) {
  static std::atomic<int32_t> nextKey{17100};
  const int32_t key = nextKey++;
  const CalloutUriReading reading = readCalloutUri(UCString(uri));
  if (reading.verdict != CalloutUriReading::Verdict::kAccepted) return "refused|" + reading.why;
  calloutRegistry().insert(key, std::make_unique<Callout>(reading.uri, reading.settings, "TLS"));
  const std::string record =
      "<ATTRIBUTE><ATTR_TYPE_ID>" + std::to_string(key) + "</ATTR_TYPE_ID></ATTRIBUTE>";
  const auto size = static_cast<int32_t>(record.size());
  std::string buffer(4097, '\0');
  const int32_t result =
      scoreRequest("<R/>", 4, record.data(), size, record.data(), size, buffer.data(), 4096);
  std::string all = std::to_string(result) + "|" + buffer.c_str();
  for (const std::string& line : log.allLines()) all += "\n" + line;
  return all;
}

struct TlsCase {
  const char* name;
  // null: a plain service that answers at once (`greeting` set) or never says anything
  std::function<TlsTestServer::Options(const TestPki&)> server;
  std::function<std::string(const TestPki&)> query;
  std::string expected;  // the call's result and document, as a regular expression
  bool https = true;
  std::string greeting = "";
};

void PrintTo(const TlsCase& c, std::ostream* out) { *out << c.name; }

class TlsCallout : public ::testing::TestWithParam<TlsCase> {};

TEST_P(TlsCallout, VerifiesTheServiceAndSaysWhyItWontTalkToIt) {
  const TlsCase& c = GetParam();
  const TestPki& pki = TestPki::get();
  std::unique_ptr<TlsTestServer> tls;
  std::unique_ptr<test::HttpTestServer> plain;
  std::string uri;
  if (c.server) {
    tls = std::make_unique<TlsTestServer>(c.server(pki));
    uri = tls->uri("/score");
  } else {
    plain = std::make_unique<test::HttpTestServer>();
    plain->setGreeting(c.greeting);
    uri = plain->uri("/score");
    uri.replace(0, 4, "https");
  }
  if (!c.https) uri.replace(0, 5, "http");
  test::CapturingDispatcher log;
  const std::string outcome = scoreThrough(uri + "?" + c.query(pki), log);
  EXPECT_TRUE(std::regex_match(outcome.substr(0, outcome.find('\n')), std::regex(c.expected))) << outcome;
  expectNoSecret(outcome);
}

TlsTestServer::Options served(const std::string& certificate, const std::string& key) {
  return TlsTestServer::Options{certificate, key, "", false};
}
auto good = [](const TestPki& p) { return served(p.server, p.serverKey); };
auto trustingCa = [](const TestPki& p) { return "caFile=" + p.ca; };
const std::string kScore = "0\\|<SCORE_RESULT><SCORE>1</SCORE></SCORE_RESULT>";
std::string refused(const std::string& why) {
  return "-1\\|<SCORE_RESULT><ERROR>HTTP Callout: tls failure is not retried: " + why +
         "</ERROR></SCORE_RESULT>";
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, TlsCallout, ::testing::Values(
    TlsCase{"good_chain_from_ca_file", good, trustingCa, kScore},
    TlsCase{"private_ca_not_in_the_system_store", good, [](const TestPki&) { return std::string("retries=0"); },
            refused("certificate verify failed: unable to get local issuer certificate")},
    TlsCase{"unknown_ca", [](const TestPki& p) { return served(p.stranger, p.strangerKey); }, trustingCa,
            refused("certificate verify failed: unable to get local issuer certificate")},
    TlsCase{"wrong_host_name", [](const TestPki& p) { return served(p.wrongHost, p.wrongHostKey); }, trustingCa,
            refused(".*127\\.0\\.0\\.1.*")},
    TlsCase{"expired", [](const TestPki& p) { return served(p.expired, p.expiredKey); }, trustingCa,
            refused("certificate verify failed: certificate has expired")},
    TlsCase{"client_certificate_given",
            [](const TestPki& p) { return TlsTestServer::Options{p.server, p.serverKey, p.ca, false}; },
            [](const TestPki& p) { return "caFile=" + p.ca + "&certFile=" + p.client + "&keyFile=" + p.clientKey; },
            kScore},
    // Over TLS 1.2 the service asks for the certificate inside the handshake, so its refusal is read
    // there; a TLS 1.3 service sends it after, and may close before the client reads it.
    TlsCase{"client_certificate_missing",
            [](const TestPki& p) { return TlsTestServer::Options{p.server, p.serverKey, p.ca, true}; },
            trustingCa, refused(".*alert handshake failure.*")},
    TlsCase{"pin_matches", good, [](const TestPki& p) { return "caFile=" + p.ca + "&pinnedPublicKey=" + p.serverPin; },
            kScore},
    TlsCase{"pin_differs", good, [](const TestPki& p) { return "caFile=" + p.ca + "&pinnedPublicKey=" + p.otherPin; },
            refused("public key does not match the pinned key")},
    TlsCase{"tls12_service_tls13_asked",
            [](const TestPki& p) { return TlsTestServer::Options{p.server, p.serverKey, "", true}; },
            [](const TestPki& p) { return "caFile=" + p.ca + "&tlsMin=1.3"; }, refused(".*protocol version.*")},
    TlsCase{"plain_service_on_https_uri", nullptr, trustingCa, refused(".*wrong version number.*"), true,
            "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"},
    // Bounded by the connection wait, which the handshake is part of.
    TlsCase{"handshake_stalls", nullptr, [](const TestPki&) { return std::string("connectTimeout=200&retryOn=reset"); },
            "-1\\|<SCORE_RESULT><ERROR>HTTP Callout: connect failure is not retried: SSL connection timeout</ERROR>"
            "</SCORE_RESULT>"},
    TlsCase{"tls_service_on_http_uri", good, [](const TestPki&) { return std::string("retries=0"); },
            "-1\\|<SCORE_RESULT><ERROR>HTTP Callout: .*</ERROR></SCORE_RESULT>", false}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

// A connection one pooled client makes resumes the session another made: no second key exchange.
TEST(TlsSessions, AreSharedByTheClientsOfAnEndpoint) {
  const TestPki& pki = TestPki::get();
  TlsTestServer server(TlsTestServer::Options{pki.server, pki.serverKey, "", false});
  const std::string uri = server.uri("/");
  const HttpEndpoint endpoint("127.0.0.1", std::stoi(uri.substr(uri.rfind(':') + 1)), 1, 5000, 5000,
                              TlsOptions{pki.ca, "", "", "", false});
  HttpClient first(endpoint);
  HttpClient second(endpoint);
  EXPECT_EQ(first.post("/", "text/xml", "x").code, 200);
  EXPECT_EQ(server.resumedSessions(), 0);
  EXPECT_EQ(second.post("/", "text/xml", "x").code, 200);
  EXPECT_EQ(server.resumedSessions(), 1);
}

struct TlsSettingCase {
  const char* name;
  // The query of an https URI (http when it starts with "http:"), given the PKI and a scratch folder.
  std::function<std::string(const TestPki&, const test::TempDir&)> query;
  std::string expected;  // the settings in force, or the refusal, as a regular expression
};

void PrintTo(const TlsSettingCase& c, std::ostream* out) { *out << c.name; }

class TlsCalloutSettings : public ::testing::TestWithParam<TlsSettingCase> {};

// The files are read and checked when the callout is built; a refusal names the parameter, the file and
// the reason, and nothing from inside it.
TEST_P(TlsCalloutSettings, AreCheckedWhenTheCalloutIsBuilt) {
  const TlsSettingCase& c = GetParam();
  const test::TempDir dir;
  std::string query = c.query(TestPki::get(), dir);
  const bool http = query.starts_with("http:");
  if (http) query.erase(0, 5);
  const CalloutUriReading reading =
      readCalloutUri(UCString((http ? "http" : "https") + std::string("://h/s?") + query));
  const std::string outcome =
      reading.verdict == CalloutUriReading::Verdict::kAccepted ? reading.settings.describe() : reading.why;
  EXPECT_TRUE(std::regex_match(outcome, std::regex(c.expected))) << outcome;
  expectNoSecret(outcome);
}

std::string bad(const std::string& parameter, const std::string& why) {
  return "Bad HTTP Callout URI parameter \\[" + parameter + "=[^\\]]*\\]: " + why;
}
std::string copyOf(const test::TempDir& dir, const std::string& file, std::filesystem::perms perms) {
  const std::string copy = dir.write("copy.pem", test::TempDir::read(file));
  std::filesystem::permissions(copy, perms);
  return copy;
}
const auto kOwnerOnly = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Table, TlsCalloutSettings, ::testing::Values(
    TlsSettingCase{"in_force", [](const TestPki& p, const test::TempDir&) {
        return "caFile=" + p.ca + "&certFile=" + p.client + "&keyFile=" + p.clientKey + "&tlsMin=1.3"; },
        "connectTimeout=10000 timeout=10000 deadline=none retries=3 retryOn=all but tls backoff=0 breaker=off "
        "breakerWait=5000 requestIdHeader=off caFile=/.*/ca.pem certFile=/.*/client.pem keyFile=/.*/client.key "
        "pinnedPublicKey=none tlsMin=1.3"},
    TlsSettingCase{"defaults", [](const TestPki&, const test::TempDir&) { return std::string(); },
        ".* retryOn=all but tls .* caFile=system certFile=none keyFile=none pinnedPublicKey=none tlsMin=1.2"},
    TlsSettingCase{"missing_ca_file", [](const TestPki&, const test::TempDir& d) { return "caFile=" + d.file("none.pem"); },
        bad("caFile", "cannot be read: No such file or directory")},
    TlsSettingCase{"ca_file_no_pem", [](const TestPki&, const test::TempDir& d) { return "caFile=" + d.write("x.pem", "x"); },
        bad("caFile", "holds no PEM certificate")},
    TlsSettingCase{"key_without_certificate", [](const TestPki& p, const test::TempDir&) { return "keyFile=" + p.clientKey; },
        bad("keyFile", "certFile must name its certificate")},
    TlsSettingCase{"certificate_without_key", [](const TestPki& p, const test::TempDir&) { return "certFile=" + p.client; },
        bad("certFile", "keyFile must name its key")},
    TlsSettingCase{"key_of_another_certificate", [](const TestPki& p, const test::TempDir&) {
        return "certFile=" + p.client + "&keyFile=" + p.serverKey; },
        bad("keyFile", "is not the key of the certificate in certFile")},
    TlsSettingCase{"key_readable_by_others", [](const TestPki& p, const test::TempDir& d) {
        return "certFile=" + p.client + "&keyFile=" + copyOf(d, p.clientKey, kOwnerOnly | std::filesystem::perms::group_read); },
        bad("keyFile", "can be read by others than its owner; make it readable by the owner alone")},
    TlsSettingCase{"certificate_as_key", [](const TestPki& p, const test::TempDir& d) {
        return "certFile=" + p.client + "&keyFile=" + copyOf(d, p.client, kOwnerOnly); },
        bad("keyFile", "holds no PEM private key without a passphrase")},
    TlsSettingCase{"pin_not_a_hash", [](const TestPki&, const test::TempDir&) { return std::string("pinnedPublicKey=sha256//abc"); },
        bad("pinnedPublicKey", "sha256//<base64 of the key's SHA-256>, one or more separated by ';', is expected")},
    TlsSettingCase{"tls_version", [](const TestPki&, const test::TempDir&) { return std::string("tlsMin=1.1"); },
        bad("tlsMin", "1.2 or 1.3 is expected")},
    TlsSettingCase{"on_an_http_uri", [](const TestPki& p, const test::TempDir&) { return "http:caFile=" + p.ca; },
        bad("caFile", "only an https URI uses it")}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace hcs
