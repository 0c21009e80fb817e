#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>

#include "util/ucstring.h"
#include "util/xml_document.h"

namespace hcs {
namespace {

// A loopback listener that answers every connection with a small HTTP reply and counts them, to prove
// nothing is fetched.
class CountingServer {
 public:
  CountingServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd_, 8) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      ADD_FAILURE() << "cannot listen on loopback";
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~CountingServer() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  std::string url(const char* path) const { return "HTTP://127.0.0.1:" + std::to_string(port_) + path; }
  int hits() const { return hits_; }

 private:
  void serve() {
    while (!stop_) {
      pollfd waiting{fd_, POLLIN, 0};
      if (poll(&waiting, 1, 20) <= 0) continue;
      const int client = accept(fd_, nullptr, nullptr);
      if (client < 0) continue;
      ++hits_;
      char request[4096];
      (void)!recv(client, request, sizeof request, 0);
      static const char kReply[] =
          "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 7\r\nConnection: close\r\n\r\n"
          "FETCHED";
      (void)!send(client, kReply, sizeof kReply - 1, MSG_NOSIGNAL);
      close(client);
    }
  }

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> hits_{0};
  std::thread thread_;
};

// Markup is upper-cased before parsing, so system ids must be upper case to name a real resource.
class XmlExternal : public testing::Test {
 protected:
  void SetUp() override {
    initXmlLibraries();  // the control parser below needs Xerces started
    dir_ = std::filesystem::temp_directory_path() / ("HCS_XML_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    std::ofstream(dir_ / "SECRET.TXT") << "TOPSECRET";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // What a parser at the library's defaults makes of the text: shows the resource would be read.
  static std::string unhardenedText(const std::string& xml) {
    xercesc::XercesDOMParser parser;
    xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte*>(xml.data()), xml.size(), "test");
    parser.parse(source);
    xercesc::DOMDocument* doc = parser.getDocument();
    return doc == nullptr || doc->getDocumentElement() == nullptr
               ? ""
               : toStdString(icu::UnicodeString(doc->getDocumentElement()->getTextContent()));
  }

  std::filesystem::path dir_;
};

TEST_F(XmlExternal, FileEntityIsNeverRead) {
  const std::string path = (dir_ / "SECRET.TXT").string();
  for (const std::string& id : {"FILE://" + path, path}) {
    const std::string xml = "<!DOCTYPE R [<!ENTITY X SYSTEM \"" + id + "\">]><R>&X;</R>";
    ASSERT_EQ(unhardenedText(xml), "TOPSECRET") << id;
    UCString text(xml);
    CXmlDocument doc(text);
    EXPECT_FALSE(doc.parsed()) << id;
    EXPECT_NE(std::string(doc.error.what()).find("external entity is not loaded"), std::string::npos)
        << doc.error.what();
  }
}

TEST_F(XmlExternal, UrlEntityAndDtdAreNeverFetched) {
  CountingServer server;
  const std::string entity = "<!DOCTYPE R [<!ENTITY X SYSTEM \"" + server.url("/E") + "\">]><R>&X;</R>";
  const std::string dtd = "<!DOCTYPE R SYSTEM \"" + server.url("/D") + "\"><R><A>a</A></R>";
  const std::string parameter =
      "<!DOCTYPE R [<!ENTITY % P SYSTEM \"" + server.url("/P") + "\"> %P;]><R>x</R>";
  ASSERT_EQ(unhardenedText(entity), "FETCHED");
  const int controlHits = server.hits();
  ASSERT_GT(controlHits, 0);

  UCString entityText(entity), dtdText(dtd), parameterText(parameter);
  CXmlDocument entityDoc(entityText);
  EXPECT_FALSE(entityDoc.parsed());
  // An external DTD is skipped, so an ordinary document that names one still parses.
  CXmlDocument dtdDoc(dtdText);
  EXPECT_EQ(toStdString(dtdDoc.getValue(nullptr, u"A", u"", true)), "a") << dtdDoc.error.what();
  CXmlDocument parameterDoc(parameterText);
  EXPECT_EQ(server.hits(), controlHits);
}

TEST(XmlLimits, EntityExpansionIsCapped) {
  std::string xml = "<!DOCTYPE R [<!ENTITY L0 \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    xml += "<!ENTITY L" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) xml += "&L" + std::to_string(i - 1) + ";";
    xml += "\">";
  }
  xml += "]><R>&L9;</R>";
  UCString text(xml);
  CXmlDocument doc(text);
  EXPECT_FALSE(doc.parsed());
  EXPECT_EQ(doc.error.entryCount(), 2);

  // Ordinary use stays well inside the cap: predefined entities and character references are free.
  std::string ordinary = "<!DOCTYPE R [<!ENTITY E \"e\">]><R>";
  for (int i = 0; i < 5000; ++i) ordinary += "&amp;&#60;";
  for (int i = 0; i < kXmlMaxEntityExpansions / 2; ++i) ordinary += "&E;";
  UCString ordinaryText(ordinary + "</R>");
  CXmlDocument ok(ordinaryText);
  EXPECT_EQ(ok.getValue(nullptr, u"R", u"", false).length(), 10000 + kXmlMaxEntityExpansions / 2)
      << ok.error.what();
}

TEST(XmlLimits, NestingIsCappedWithAClearError) {
  auto nested = [](int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<N>";
    xml += "deep";
    for (int i = 0; i < depth; ++i) xml += "</N>";
    return xml;
  };
  UCString atCap(nested(kXmlMaxDepth));
  CXmlDocument ok(atCap);
  ASSERT_TRUE(ok.parsed()) << ok.error.what();
  EXPECT_EQ(toStdString(ok.getValue(nullptr, u"N", u"", false)), "deep");
  icu::UnicodeString out;
  ok.toXml(nullptr, out);
  EXPECT_EQ(toStdString(out), toStdString(atCap));

  for (int depth : {kXmlMaxDepth + 1, 10000}) {
    UCString text(nested(depth));
    CXmlDocument doc(text);
    EXPECT_FALSE(doc.parsed());
    EXPECT_STREQ(doc.error.what(), "XML Parse failed:element nesting is deeper than 1024 levels");
  }
  // Empty elements close themselves: many siblings never count as depth.
  std::string siblings = "<R>";
  for (int i = 0; i < 5000; ++i) siblings += "<E/><F></F>";
  UCString wide(siblings + "</R>");
  EXPECT_TRUE(CXmlDocument(wide).parsed());
}

TEST(XmlLimits, MegabyteDocument) {
  std::string xml = "<R>";
  while (xml.size() < (1u << 20)) xml += "<ITEM K=\"v\">some character data</ITEM>";
  xml += "<LAST>end</LAST></R>";
  UCString text(xml);
  CXmlDocument doc(text);
  ASSERT_TRUE(doc.parsed());
  EXPECT_EQ(toStdString(doc.getValue(nullptr, u"LAST", u"", false)), "end");
  icu::UnicodeString out;
  doc.toXml(nullptr, out);
  EXPECT_EQ(out.length(), text.length());
}

// Each thread builds the score document over and over; every result must be the same text.
TEST(XmlConcurrency, EightThreadsParseAndSerialise) {
  auto build = [](int i) {
    UCString wrapper("<ATTRS_TO_SCORE></ATTRS_TO_SCORE>"), req("<req/>");
    UCString a("<ATTR1><ATTR_TYPE_ID>7</ATTR_TYPE_ID><V>" + std::to_string(i) + "</V></ATTR1>");
    UCString bad("<ATTR2><V>");
    CXmlDocument e(wrapper), r(req), d(a), broken(bad);
    appendCopy(e.getRoot(), r.getRoot());
    appendCopy(e.getRoot(), d.getRoot());
    icu::UnicodeString out;
    e.toXml(nullptr, out);
    return toStdString(out) + (broken.parsed() ? "!" : "");
  };
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const std::string expected = "<ATTRS_TO_SCORE><REQ/><ATTR1><ATTR_TYPE_ID>7</ATTR_TYPE_ID><V>" +
                                     std::to_string(t * 1000 + i) + "</V></ATTR1></ATTRS_TO_SCORE>";
        if (build(t * 1000 + i) != expected) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace hcs
