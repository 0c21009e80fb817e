#pragma once

#include <string>

namespace hcs {

// The checks a TLS callout's files get when it is built, so that a mistake shows at initPlugin and not
// on the first call. Each gives "" when the file will do, or why not, in words that name nothing from
// inside the file (a key's bytes never reach a text, a log line or the tool).

// A PEM file of one or more CA certificates.
std::string caFileProblem(const std::string& path);
// A PEM client certificate and its PEM private key: readable, the key without a passphrase, readable
// by its owner alone, and the key of that certificate.
std::string certificateFileProblem(const std::string& path);
std::string keyFileProblem(const std::string& keyPath, const std::string& certificatePath);
// "sha256//<base64 of 32 bytes>", one or more separated by ';'.
std::string pinnedKeysProblem(const std::string& pins);

// OpenSSL's words for a certificate verification result ("self-signed certificate in certificate
// chain").
std::string verifyResultText(long result);

}  // namespace hcs
