#include "transport/tls_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "util/file_platform.h"

namespace hcs {

namespace {

// PEM files are a few kilobytes; a larger one is no PEM file meant here.
constexpr uint64_t kMaxPemBytes = 1024 * 1024;

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Bio = std::unique_ptr<BIO, BioFree>;
using Certificate = std::unique_ptr<X509, X509Free>;
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

// The file's bytes in `out`; "" or why it cannot be read.
std::string readPem(const std::string& path, std::string& out) {
  errno = 0;
  std::FILE* file = openRegularFile(path, kMaxPemBytes);
  if (file == nullptr) {
    return errno != 0 ? std::string("cannot be read: ") + std::strerror(errno)
                      : "is no regular file of at most 1 MiB";
  }
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) out.append(chunk, n);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return failed ? "cannot be read" : "";
}

Bio memoryBio(const std::string& bytes) {
  return Bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

// A key with a passphrase is not read: nothing here could answer it.
int noPassphrase(char*, int, int, void*) { return 0; }

Certificate firstCertificate(const std::string& bytes) {
  const Bio bio = memoryBio(bytes);
  Certificate certificate(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  ERR_clear_error();
  return certificate;
}

bool isBase64(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

std::string caFileProblem(const std::string& path) {
  std::string bytes;
  if (std::string why = readPem(path, bytes); !why.empty()) return why;
  return firstCertificate(bytes) ? "" : "holds no PEM certificate";
}

std::string certificateFileProblem(const std::string& path) { return caFileProblem(path); }

std::string keyFileProblem(const std::string& keyPath, const std::string& certificatePath) {
  if (readableByOthers(keyPath))
    return "can be read by others than its owner; make it readable by the owner alone";
  std::string bytes;
  if (std::string why = readPem(keyPath, bytes); !why.empty()) return why;
  const Bio bio = memoryBio(bytes);
  const Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, &noPassphrase, nullptr) : nullptr);
  ERR_clear_error();
  if (!key) return "holds no PEM private key without a passphrase";
  std::string certificateBytes;
  if (!readPem(certificatePath, certificateBytes).empty()) return "";  // the certificate's own check says
  const Certificate certificate = firstCertificate(certificateBytes);
  const bool matches = certificate && X509_check_private_key(certificate.get(), key.get()) == 1;
  ERR_clear_error();
  return matches ? "" : "is not the key of the certificate in certFile";
}

std::string pinnedKeysProblem(const std::string& pins) {
  static constexpr std::string_view kPrefix = "sha256//";
  size_t start = 0;
  while (start <= pins.size()) {
    const size_t end = std::min(pins.find(';', start), pins.size());
    const std::string_view pin = std::string_view(pins).substr(start, end - start);
    // 32 bytes in base64: 43 characters and one '='.
    const bool ok = pin.size() == kPrefix.size() + 44 && pin.starts_with(kPrefix) && pin.back() == '=' &&
                    std::all_of(pin.begin() + kPrefix.size(), pin.end() - 1, isBase64);
    if (!ok) return "sha256//<base64 of the key's SHA-256>, one or more separated by ';', is expected";
    start = end + 1;
  }
  return "";
}

std::string verifyResultText(long result) { return X509_verify_cert_error_string(result); }

}  // namespace hcs
