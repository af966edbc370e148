#include "platform/signature.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <string>

#include "tests/fixture_paths.h"
#include "tests/servers/loopback_http_server.h"
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
  // Where signed_issuer_away.exe's missing issuer is to be fetched from.
  testing_servers::LoopbackHttpServer issuer_address;
  ASSERT_EQ(testing_servers::LoopbackHttpServer::StartResult::kOk, issuer_address.Start(38917));
  issuer_address.SetDefaultResponse(testing_servers::ResponsePlan::Silent());
  const std::string publisher = "Kestrel Test Publisher";
  const struct {
    const char* file;
    const char* signer;
    SignatureVerdict verdict;
    uint32_t deadline_ms = 30000;
  } rows[] = {
      {"signed.exe", publisher.c_str(), SignatureVerdict::kSignedBy},
      {"signed.msi", publisher.c_str(), SignatureVerdict::kSignedBy},
      {"signed.exe", "Kestrel Test", SignatureVerdict::kOtherSigner},
      {"signed_changed.exe", publisher.c_str(), SignatureVerdict::kChanged},
      // What WinVerifyTrust alone lets through under Wine.
      {"signed_untrusted.exe", publisher.c_str(), SignatureVerdict::kUntrusted},
      {"signed_no_usage.exe", publisher.c_str(), SignatureVerdict::kUntrusted},
      {"fake_dotnetfx.exe", publisher.c_str(), SignatureVerdict::kUnsigned},
      // Expired since: good with a stamp from its time, not without.
      {"signed_expired_stamped.exe", publisher.c_str(), SignatureVerdict::kSignedBy},
      {"signed_expired.exe", publisher.c_str(), SignatureVerdict::kUntrusted},
      // Last: the fetch of the issuer hangs until the server stops.
      {"signed_issuer_away.exe", publisher.c_str(), SignatureVerdict::kTimedOut, 1500},
  };
  for (const auto& row : rows) {
    const DWORD start = GetTickCount();
    EXPECT_EQ(row.verdict,
              CheckSignature(test_paths::FixturePath(row.file), row.signer, row.deadline_ms))
        << row.file << " for " << row.signer;
    EXPECT_LT(GetTickCount() - start, row.deadline_ms + 3000) << row.file;
  }
  EXPECT_TRUE(issuer_address.WaitForRequests(1, 0)) << "the missing issuer was not fetched";
}

}  // namespace
}  // namespace platform
