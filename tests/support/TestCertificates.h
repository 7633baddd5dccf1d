#pragma once
// A certificate authority made for one test run (P-256 keys, libcrypto), and
// server certificates it signs, written as PEM files into a folder:
//
//   TTestCA ca(dir.Path());
//   TCertFiles srv = ca.Issue("server", {"IP:127.0.0.1"});
//   ... server uses srv.Cert / srv.Key, the client trusts ca.CertFile() ...
//
// Nothing is read from or written to the system's certificate store.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

struct evp_pkey_st;
struct x509_st;

namespace qnb::test {

struct TCertFiles {
  std::filesystem::path Cert;
  std::filesystem::path Key;
};

class TTestCA {
 public:
  // Makes the CA's key and self-signed certificate, dir/NAME-ca.crt.
  explicit TTestCA(const std::filesystem::path& dir, const std::string& name = "quenbell-test");
  ~TTestCA();
  TTestCA(const TTestCA&) = delete;
  TTestCA& operator=(const TTestCA&) = delete;

  const std::filesystem::path& CertFile() const { return certFile_; }

  // A server certificate for the subject alternative names given in
  // OpenSSL's form ("IP:127.0.0.1", "DNS:localhost"), as dir/stem.crt and
  // dir/stem.key. validFromDays/validToDays are relative to now, so a negative
  // validToDays gives an expired certificate.
  TCertFiles Issue(const std::string& stem, const std::vector<std::string>& altNames, int validFromDays = -1,
                   int validToDays = 2) const;

 private:
  std::filesystem::path dir_;
  std::filesystem::path certFile_;
  evp_pkey_st* key_ = nullptr;
  x509_st* cert_ = nullptr;
};

}  // namespace qnb::test
