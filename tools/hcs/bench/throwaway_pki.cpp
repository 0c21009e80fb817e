#include "bench/throwaway_pki.h"

#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace hcs::bench {
namespace {

// Runs `openssl <arguments>` with no shell between (the folder's path is passed as it is), its output
// dropped.
void openssl(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "openssl");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, "openssl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  if (spawned != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("cannot make a throwaway CA: openssl " + arguments[1] + " " + arguments[2] +
                             (spawned != 0 ? " did not start (is the openssl tool installed?)" : " failed"));
  }
}

}  // namespace

ThrowawayPki::ThrowawayPki() {
  const std::vector<std::string> newKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes"};
  std::vector<std::string> authority{
      "req",  "-x509", "-days", "1", "-subj", "/CN=hcs bench throwaway CA", "-keyout", dir_.file("ca.key"),
      "-out", ca()};
  authority.insert(authority.end(), newKey.begin(), newKey.end());
  openssl(authority);
  std::vector<std::string> request{"req", "-subj", "/CN=127.0.0.1",        "-keyout",
                                   key(), "-out",  dir_.file("server.csr")};
  request.insert(request.end(), newKey.begin(), newKey.end());
  openssl(request);
  const std::string extensions =
      dir_.write("server.ext", "subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n");
  openssl({"x509", "-req", "-in", dir_.file("server.csr"), "-CA", ca(), "-CAkey", dir_.file("ca.key"),
           "-CAcreateserial", "-days", "1", "-extfile", extensions, "-out", certificate()});
}

}  // namespace hcs::bench
