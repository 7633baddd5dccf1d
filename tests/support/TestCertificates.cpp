#include "support/TestCertificates.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace qnb::test {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& what) {
  char buf[256] = "";
  ERR_error_string_n(ERR_get_error(), buf, sizeof buf);
  throw std::runtime_error("test certificates: " + what + ": " + buf);
}

EVP_PKEY* NewKey() {
  EVP_PKEY* k = EVP_EC_gen("P-256");
  if (!k) Fail("key generation");
  return k;
}

using TExtensions = std::vector<std::pair<int, std::string>>;

// A certificate for subjectKey, signed by issuerKey; issuer null: self-signed.
X509* NewCert(EVP_PKEY* subjectKey, const std::string& cn, X509* issuer, EVP_PKEY* issuerKey, int fromDays,
              int toDays, const TExtensions& exts) {
  static std::atomic<long> serial{1000};
  X509* x = X509_new();
  if (!x) Fail("X509_new");
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(x), fromDays * 86400L);
  X509_gmtime_adj(X509_getm_notAfter(x), toDays * 86400L);
  X509_set_pubkey(x, subjectKey);
  X509_NAME* name = X509_get_subject_name(x);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1,
                             0);
  X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : name);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer ? issuer : x, x, nullptr, nullptr, 0);
  for (const auto& [nid, value] : exts) {
    X509_EXTENSION* e = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!e) {
      X509_free(x);
      Fail("extension " + value);
    }
    X509_add_ext(x, e, -1);
    X509_EXTENSION_free(e);
  }
  if (X509_sign(x, issuerKey, EVP_sha256()) == 0) {
    X509_free(x);
    Fail("signing");
  }
  return x;
}

void WritePem(const fs::path& p, X509* cert, EVP_PKEY* key) {
  FILE* f = std::fopen(p.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + p.string());
  bool ok = cert ? PEM_write_X509(f, cert) == 1
                 : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  ok = std::fclose(f) == 0 && ok;
  if (!ok) Fail("writing " + p.string());
}

}  // namespace

TTestCA::TTestCA(const fs::path& dir, const std::string& name) : dir_(dir) {
  fs::create_directories(dir_);
  key_ = NewKey();
  cert_ = NewCert(key_, name + " CA", nullptr, key_, -1, 2,
                  {{NID_basic_constraints, "critical,CA:TRUE"},
                   {NID_key_usage, "critical,keyCertSign,cRLSign"},
                   {NID_subject_key_identifier, "hash"}});
  certFile_ = dir_ / (name + "-ca.crt");
  WritePem(certFile_, cert_, nullptr);
}

TTestCA::~TTestCA() {
  X509_free(cert_);
  EVP_PKEY_free(key_);
}

TCertFiles TTestCA::Issue(const std::string& stem, const std::vector<std::string>& altNames, int validFromDays,
                          int validToDays) const {
  std::string san;
  for (const auto& n : altNames) san += (san.empty() ? "" : ",") + n;
  EVP_PKEY* key = NewKey();
  TExtensions exts = {{NID_basic_constraints, "CA:FALSE"},
                      {NID_key_usage, "critical,digitalSignature"},
                      {NID_ext_key_usage, "serverAuth"},
                      {NID_subject_key_identifier, "hash"},
                      {NID_authority_key_identifier, "keyid"}};
  if (!san.empty()) exts.emplace_back(NID_subject_alt_name, san);
  X509* cert = nullptr;
  TCertFiles files{dir_ / (stem + ".crt"), dir_ / (stem + ".key")};
  try {
    cert = NewCert(key, stem, cert_, key_, validFromDays, validToDays, exts);
    WritePem(files.Cert, cert, nullptr);
    WritePem(files.Key, nullptr, key);
  } catch (...) {
    X509_free(cert);
    EVP_PKEY_free(key);
    throw;
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  return files;
}

}  // namespace qnb::test
