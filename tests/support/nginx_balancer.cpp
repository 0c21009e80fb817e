#include "support/nginx_balancer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <pwd.h>
#include <unistd.h>

namespace hcs::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kNginx[] = "/usr/sbin/nginx";

std::string configText(const std::string& dir, int port, const std::vector<std::string>& instances,
                       const NginxBalancer::Options& options) {
  std::ostringstream c;
  c << "daemon off;\n"
    << "worker_processes 1;\n"
    << "pid " << dir << "/nginx.pid;\n"
    << "error_log " << dir << "/error.log notice;\n";
  // Run as root (a CI machine), nginx would hand its workers to "nobody", who cannot enter the test's
  // folder: they stay with the test's own user.
  if (::geteuid() == 0) c << "user " << ::getpwuid(0)->pw_name << ";\n";
  c << "events { worker_connections 1024; }\n"
    << "http {\n"
    << "  log_format fleet '$upstream_addr|$upstream_status|$status|$connection_requests';\n"
    << "  access_log " << dir << "/access.log fleet;\n";
  for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
    c << "  " << temp << "_temp_path " << dir << "/" << temp << ";\n";
  c << "  keepalive_timeout " << options.idleClientSeconds << "s;\n"
    << "  upstream scoring {\n";
  for (const std::string& instance : instances)
    c << "    server " << instance << " max_fails=3 fail_timeout=1s;\n";
  c << "    keepalive 16;\n"
    << "  }\n"
    << "  server {\n"
    << "    listen 127.0.0.1:" << port << ";\n"
    << "    location / {\n"
    << "      proxy_pass http://scoring;\n"
    << "      proxy_http_version 1.1;\n"
    << "      proxy_set_header Connection \"\";\n"
    << "      proxy_next_upstream error timeout http_502 http_503 non_idempotent;\n"
    << "    }\n"
    << "  }\n"
    << "}\n";
  return c.str();
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) {
    part.erase(0, part.find_first_not_of(' '));
    parts.push_back(part);
  }
  return parts;
}

}  // namespace

bool NginxBalancer::available() { return ::access(kNginx, X_OK) == 0; }

NginxBalancer::NginxBalancer(const std::vector<std::string>& instances, const Options& options)
    : port_(freeLoopbackPort()) {
  std::string dir = dir_.file("");
  dir.pop_back();  // the trailing '/'
  dir_.write("nginx.conf", configText(dir, port_, instances, options));
  // SIGTERM when the test process dies: nginx's master then ends its workers too.
  master_ = std::make_unique<ChildProcess>(command({}), dir_.file("nginx.out"), SIGTERM);
  if (!waitForPort(port_, *master_, milliseconds(10000)))
    throw std::runtime_error("nginx did not start:\n" + TempDir::read(dir_.file("nginx.out")) + errorLog());
}

NginxBalancer::~NginxBalancer() { stop(); }

void NginxBalancer::stop() {
  // The master ends its workers on SIGTERM; the group is killed when that takes too long.
  if (!master_) return;
  master_->signal(SIGTERM);
  master_->waitEnd(milliseconds(5000));
  master_.reset();
}

std::vector<std::string> NginxBalancer::command(const std::vector<std::string>& extra) const {
  std::vector<std::string> argv = {
      kNginx, "-p", dir_.file(""), "-c", dir_.file("nginx.conf"), "-e", dir_.file("error.log")};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return argv;
}

std::string NginxBalancer::uri(const std::string& pathAndQuery) const {
  return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
}

std::vector<pid_t> NginxBalancer::workers() const {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // "pid (comm) state ppid …"; comm may hold blanks and parentheses, so read from the last ')'.
    const std::string stat = TempDir::read(entry.path().string() + "/stat");
    const size_t end = stat.rfind(')');
    if (end == std::string::npos) continue;
    std::istringstream rest(stat.substr(end + 1));
    char state = 0;
    pid_t parent = 0;
    if (rest >> state >> parent && parent == master_->pid()) children.push_back(std::stoi(name));
  }
  return children;
}

milliseconds NginxBalancer::reload() {
  const auto began = Clock::now();
  const std::vector<pid_t> before = workers();
  if (runToEnd(command({"-s", "reload"}), dir_.file("reload.out"), milliseconds(10000)) != 0)
    throw std::runtime_error("nginx -s reload failed:\n" + TempDir::read(dir_.file("reload.out")));
  while (Clock::now() - began < milliseconds(10000)) {
    const std::vector<pid_t> now = workers();
    const bool oldGone = std::none_of(now.begin(), now.end(), [&](pid_t pid) {
      return std::find(before.begin(), before.end(), pid) != before.end();
    });
    if (oldGone && !now.empty()) return std::chrono::duration_cast<milliseconds>(Clock::now() - began);
    std::this_thread::sleep_for(milliseconds(10));
  }
  throw std::runtime_error("the workers nginx ran before its reload did not end in 10 s:\n" + errorLog());
}

const NginxBalancer::Tally& NginxBalancer::tally() {
  std::ifstream log(dir_.file("access.log"), std::ios::binary);
  log.seekg(static_cast<std::streamoff>(logRead_));
  // Only whole lines: nginx may be writing the next one.
  for (std::string line; std::getline(log, line) && !log.eof();) {
    logRead_ += line.size() + 1;
    const std::vector<std::string> fields = split(line, '|');
    if (fields.size() != 4) continue;
    const std::vector<std::string> tried = split(fields[0], ',');
    ++tally_.requests;
    if (fields[2] == "200") {
      ++tally_.servedBy[tried.back()];
    } else {
      ++tally_.failed;
    }
    tally_.passedOn += tried.size() > 1 ? 1 : 0;
    tally_.newConnections += fields[3] == "1" ? 1 : 0;
  }
  return tally_;
}

bool NginxBalancer::waitUntilServes(const std::string& instance, milliseconds bound) {
  const long before = tally().answeredBy(instance);
  for (const auto until = Clock::now() + bound; Clock::now() < until;) {
    if (tally().answeredBy(instance) > before) return true;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return false;
}

std::string NginxBalancer::errorLog() const { return TempDir::read(dir_.file("error.log")); }

}  // namespace hcs::test
