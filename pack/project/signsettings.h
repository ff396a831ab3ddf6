// What a project and the command line say about signing: the [Sign]
// section's keys and how the two combine. The signing itself is the
// package's (signing.h).
#pragma once
#include <string>
#include <vector>

// What [Sign] in the project, or the build command's --sign-* options, say.
// Paths are host paths. The key's password is never kept here: only where it
// is read from.
struct SignSettings {
  std::string certificate;      // PEM certificate (with its chain)
  std::string key;              // PEM private key
  std::string pkcs12;           // or both in one PKCS#12 file
  std::string passwordFile;     // the first line of this file is the key's password
  std::string passwordEnv;      // or the value of this environment variable
  std::string description;      // shown by Windows as the program's name
  std::string url;              // the program's web page
  std::string timestampServer;  // RFC 3161 server; empty: no timestamp

  bool Requested() const { return !certificate.empty() || !key.empty() || !pkcs12.empty(); }
};

// The fields of `given` that are set replace those of `base`.
SignSettings OverlaySignSettings(const SignSettings& base, const SignSettings& given);

// A problem with the settings, and the [Sign] key it is about (so that it
// can be reported at that key's line).
struct SignProblem {
  std::string key;
  std::string text;
};

// Problems with the combination (PEM pair or PKCS#12, one password source)
// and the files named; empty when it can be used.
std::vector<SignProblem> CheckSignSettings(const SignSettings& settings);

// The value of the field a [Sign] key names; empty for an unknown key.
std::string SignValue(const SignSettings& settings, const std::string& key);

// Sets the field of `settings` that a [Sign] key names; false for an unknown
// key. Paths are resolved against `folder`.
bool SetSignKey(const std::string& key, const std::string& value, const std::string& folder,
                SignSettings& settings);
