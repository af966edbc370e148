#include "platform/signature.h"

#include <windows.h>
// After windows.h, which they need.
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <vector>

#include "platform/sync.h"

namespace platform {

namespace {

// The two libraries are loaded when a signature is first checked, not with
// the stub: a run without a signer never pays for them at start-up. Never
// freed, since a check past its deadline may still run.
struct TrustFunctions {
  decltype(&::WinVerifyTrust) verify = nullptr;
  decltype(&::WTHelperProvDataFromStateData) provider_data = nullptr;
  decltype(&::WTHelperGetProvSignerFromChain) signer = nullptr;
  decltype(&::CertGetCertificateChain) get_chain = nullptr;
  decltype(&::CertVerifyCertificateChainPolicy) verify_policy = nullptr;
  decltype(&::CertFreeCertificateChain) free_chain = nullptr;
  decltype(&::CertGetNameStringA) name = nullptr;
  bool ok = false;
};

template <typename Function>
void Find(HMODULE module, const char* name, Function* function) {
  *function =
      module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
             : nullptr;
}

const TrustFunctions& Trust() {
  static const TrustFunctions kFunctions = [] {
    TrustFunctions f;
    const HMODULE wintrust = LoadLibraryA("wintrust.dll");
    const HMODULE crypt32 = LoadLibraryA("crypt32.dll");
    Find(wintrust, "WinVerifyTrust", &f.verify);
    Find(wintrust, "WTHelperProvDataFromStateData", &f.provider_data);
    Find(wintrust, "WTHelperGetProvSignerFromChain", &f.signer);
    Find(crypt32, "CertGetCertificateChain", &f.get_chain);
    Find(crypt32, "CertVerifyCertificateChainPolicy", &f.verify_policy);
    Find(crypt32, "CertFreeCertificateChain", &f.free_chain);
    Find(crypt32, "CertGetNameStringA", &f.name);
    f.ok = f.verify && f.provider_data && f.signer && f.get_chain && f.verify_policy &&
           f.free_chain && f.name;
    return f;
  }();
  return kFunctions;
}

constexpr LONG kNoSignature = static_cast<LONG>(0x800B0100);      // TRUST_E_NOSIGNATURE
constexpr LONG kProviderUnknown = static_cast<LONG>(0x800B0001);  // TRUST_E_PROVIDER_UNKNOWN
constexpr LONG kSubjectUnknown = static_cast<LONG>(0x800B0003);   // TRUST_E_SUBJECT_FORM_UNKNOWN
constexpr LONG kBadDigest = static_cast<LONG>(0x80096010);        // TRUST_E_BAD_DIGEST
constexpr LONG kBadSignature = static_cast<LONG>(0x80096004);     // TRUST_E_CERT_SIGNATURE

// What WinVerifyTrust said, before the product's own look at the chain.
SignatureVerdict FromTrustStatus(LONG status) {
  switch (status) {
    case kNoSignature:
    case kProviderUnknown:
    case kSubjectUnknown:
    case ERROR_INVALID_PARAMETER:  // Wine's answer for a file of no signable form
      return SignatureVerdict::kUnsigned;
    case kBadDigest:
    case kBadSignature:
      return SignatureVerdict::kChanged;
    default:
      return SignatureVerdict::kUntrusted;
  }
}

// Wine's WinVerifyTrust takes an untrusted root and a certificate without
// the code-signing usage: the chain is built again, from the signature's own
// store, for code signing, and must have no error and pass the Authenticode
// policy. `as_of` null: now.
bool ChainIsTrustedForCodeSigning(const TrustFunctions& trust, PCCERT_CONTEXT certificate,
                                  FILETIME* as_of) {
  char usage[] = szOID_PKIX_KP_CODE_SIGNING;
  LPSTR usages[] = {usage};
  CERT_CHAIN_PARA parameters = {};
  parameters.cbSize = sizeof parameters;
  parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
  parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!trust.get_chain(nullptr, certificate, as_of, certificate->hCertStore, &parameters,
                       CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &chain)) {
    return false;
  }
  CERT_CHAIN_POLICY_PARA policy = {};
  policy.cbSize = sizeof policy;
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof status;
  const bool trusted =
      chain->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR &&
      trust.verify_policy(CERT_CHAIN_POLICY_AUTHENTICODE, chain, &policy, &status) &&
      status.dwError == 0;
  trust.free_chain(chain);
  return trusted;
}

// A stamp that WinVerifyTrust found wanting is none. Wine records no
// countersigners (nor checks one), so the attribute is what tells there.
bool HasTimeStamp(const CRYPT_PROVIDER_SGNR& signature) {
  for (DWORD i = 0; i < signature.csCounterSigners; ++i) {
    if (signature.pasCounterSigners[i].dwError != 0) return false;
  }
  const CRYPT_ATTRIBUTES& attributes = signature.psSigner->UnauthAttrs;
  for (DWORD i = 0; i < attributes.cAttr; ++i) {
    const char* type = attributes.rgAttr[i].pszObjId;
    if (std::strcmp(type, szOID_RSA_counterSign) == 0 ||
        std::strcmp(type, szOID_RFC3161_counterSign) == 0) {
      return true;
    }
  }
  return false;
}

// A certificate that has expired since a time-stamped signature is still
// good for it: its chain is judged at the time WinVerifyTrust took from the
// stamp. Without a stamp, now: Wine's sftVerifyAsOf is then the file's
// creation time, which anyone who writes the file chooses.
FILETIME* SignatureTime(CRYPT_PROVIDER_SGNR* signature) {
  return signature->psSigner && HasTimeStamp(*signature) ? &signature->sftVerifyAsOf : nullptr;
}

SignatureVerdict Verify(const std::string& path, const std::string& signer) {
  const TrustFunctions& trust = Trust();
  if (!trust.ok) return SignatureVerdict::kUnavailable;
  const int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  std::vector<wchar_t> wide(length > 0 ? length : 1);
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), length);
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = wide.data();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = trust.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  SignatureVerdict verdict = FromTrustStatus(status);
  if (status == 0) {
    verdict = SignatureVerdict::kUntrusted;
    CRYPT_PROVIDER_DATA* provider = trust.provider_data(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signature = provider ? trust.signer(provider, 0, FALSE, 0) : nullptr;
    if (signature && signature->csCertChain > 0 && signature->pasCertChain[0].pCert) {
      PCCERT_CONTEXT certificate = signature->pasCertChain[0].pCert;
      char name[256] = {};
      trust.name(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof name);
      if (ChainIsTrustedForCodeSigning(trust, certificate, SignatureTime(signature))) {
        verdict = signer == name ? SignatureVerdict::kSignedBy : SignatureVerdict::kOtherSigner;
      }
    }
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  trust.verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return verdict;
}

// What the owner and the checking thread share; whichever lets go last frees it.
struct Check {
  Check(const std::string& path, const std::string& signer) : path(path), signer(signer) {}
  void Release() {
    if (InterlockedDecrement(&references) == 0) delete this;
  }
  static void Run(void* self) {
    Check* check = static_cast<Check*>(self);
    SignatureVerdict verdict;
    try {
      verdict = Verify(check->path, check->signer);
    } catch (...) {  // out of memory: a check that could not be made, not the process's end
      verdict = SignatureVerdict::kUnavailable;
    }
    {
      LockGuard guard(check->lock);
      check->verdict = verdict;
    }
    check->done.Set();
    check->Release();
  }

  const std::string path;
  const std::string signer;
  volatile LONG references = 2;  // the owner and the thread
  Lock lock;                     // guards verdict
  SignatureVerdict verdict = SignatureVerdict::kTimedOut;
  Event done{true, false};
};

}  // namespace

SignatureVerdict CheckSignature(const std::string& path, const std::string& signer,
                                uint32_t deadline_ms) {
  Check* check = new Check(path, signer);
  if (!StartDetachedThread(&Check::Run, check)) {
    delete check;
    return SignatureVerdict::kUnavailable;
  }
  check->done.Wait(deadline_ms);
  SignatureVerdict verdict;
  {
    LockGuard guard(check->lock);
    verdict = check->verdict;
  }
  check->Release();
  return verdict;
}

}  // namespace platform
