#include "platform/signature.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <string>

#include "tests/fixture_paths.h"
#include "tests/test_paths.h"

namespace platform {
namespace {

// The test root, trusted in this run's own prefix as trust_root.exe trusts
// it for the roads.
void TrustTheTestAuthority() {
  std::string der;
  ASSERT_TRUE(test_paths::ReadWholeFile(test_paths::FixturePath("authority.der"), &der));
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
  ASSERT_NE(nullptr, store);
  EXPECT_TRUE(CertAddEncodedCertificateToStore(
      store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
      static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
  CertCloseStore(store, 0);
}

TEST(SignatureTest, OnlyTheTrustedPublishersOwnSignatureOnAnUnchangedFilePasses) {
  TrustTheTestAuthority();
  const std::string publisher = "Kestrel Test Publisher";
  const struct {
    const char* file;
    const char* signer;
    SignatureVerdict verdict;
  } rows[] = {
      {"signed.exe", publisher.c_str(), SignatureVerdict::kSignedBy},
      {"signed.msi", publisher.c_str(), SignatureVerdict::kSignedBy},
      {"signed.exe", "Kestrel Test", SignatureVerdict::kOtherSigner},
      {"signed_changed.exe", publisher.c_str(), SignatureVerdict::kChanged},
      // What WinVerifyTrust alone lets through under Wine.
      {"signed_untrusted.exe", publisher.c_str(), SignatureVerdict::kUntrusted},
      {"signed_no_usage.exe", publisher.c_str(), SignatureVerdict::kUntrusted},
      {"fake_dotnetfx.exe", publisher.c_str(), SignatureVerdict::kUnsigned},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.verdict, CheckSignature(test_paths::FixturePath(row.file), row.signer, 30000))
        << row.file << " for " << row.signer;
  }
}

}  // namespace
}  // namespace platform
