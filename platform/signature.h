// Whether a downloaded installer carries its publisher's signature
// (Authenticode on win32; the posix stand-in cannot tell, so a configured
// signer fails closed there).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class SignatureVerdict {
  kSignedBy,     // a valid signature from a trusted authority, for code signing, by the signer
  kUnsigned,     // no signature
  kChanged,      // the file or its signature changed after signing
  kUntrusted,    // the signer's chain ends at no trusted root, or is not for code signing
  kOtherSigner,  // a trusted signature by someone else
  kTimedOut,     // the check did not end within its deadline
  kUnavailable,  // this system cannot check signatures
};

// Checks the file at `path` against the subject name `signer` (exactly as
// its certificate's simple name reads). The check runs on a thread of its
// own: an issuer in no store makes the system fetch it from the network,
// which may never answer, so after `deadline_ms` the verdict is kTimedOut
// and the thread is left to end by itself.
SignatureVerdict CheckSignature(const std::string& path, const std::string& signer,
                                uint32_t deadline_ms);

}  // namespace platform
