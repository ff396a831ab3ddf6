// Authenticode signing of a finished Setup.exe through osslsigncode, and
// reading a signature back for info and verify.
//
// The signature goes after everything else in the file (the PE certificate
// table sits at its end), and the stub reads its package from PackageBase
// onwards and each cabinet by its own length, so a signed Setup.exe installs
// as it did before it was signed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "signsettings.h"

// Signs `in` into `out` (which must not exist yet). `signingTime` (seconds
// since 1970) is the time the signature states, so that the same inputs give
// the same bytes; with a timestamp server the server's time is added to it.
// False with the reason (osslsigncode's own words) in `error`; `out` is then
// not there.
bool SignFile(const SignSettings& settings, int64_t signingTime, const std::string& in,
              const std::string& out, std::string& error);

// What a file's signature says.
struct SignatureFacts {
  bool checked = false;  // osslsigncode could be run
  bool present = false;
  std::string signer;  // the signing certificate's subject
  std::string issuer;
  std::string signingTime;
  bool timestamped = false;
  bool coversFile = false;    // the signed digest is the file's digest as it is now
  bool chainTrusted = false;  // the signer chains to the authority given (or the system's)
  std::string problem;        // why it could not be checked, or the chain's error
};

// Reads the signature of `path` with osslsigncode verify; `ca` (may be
// empty: the system's authorities) is what the signer's chain must reach.
SignatureFacts ReadSignature(const std::string& path, const std::string& ca);

// The facts as parsed from osslsigncode verify's output.
SignatureFacts ParseVerifyOutput(const std::string& output);
