#include "signing.h"

#include <cstdio>
#include <cstdlib>

#include "assemble.h"
#include "hostfiles.h"
#include "hostprocess.h"
#include "inifile.h"

namespace {

struct SignKey {
  const char* name;
  std::string SignSettings::*field;
  bool isPath;
};

const SignKey kSignKeys[] = {
    {"Certificate", &SignSettings::certificate, true},
    {"Key", &SignSettings::key, true},
    {"PKCS12", &SignSettings::pkcs12, true},
    {"PasswordFile", &SignSettings::passwordFile, true},
    {"PasswordEnv", &SignSettings::passwordEnv, false},
    {"Description", &SignSettings::description, false},
    {"URL", &SignSettings::url, false},
    {"TimestampServer", &SignSettings::timestampServer, false},
};

// The key's password, from the file's first line or the environment; false
// with the reason when the source named cannot give it.
bool ReadKeyPassword(const SignSettings& s, std::string& password, std::string& error) {
  password.clear();
  if (!s.passwordEnv.empty()) {
    const char* value = std::getenv(s.passwordEnv.c_str());
    if (!value)
      return error = "the environment variable " + s.passwordEnv + " (the key's password) is not set", false;
    password = value;
  } else if (!s.passwordFile.empty()) {
    Bytes bytes;
    if (!ReadWholeFile(s.passwordFile, bytes))
      return error = s.passwordFile + ": cannot read the password file", false;
    password.assign(bytes.begin(), bytes.end());
    password = password.substr(0, password.find_first_of("\r\n"));
  }
  return true;
}

// osslsigncode ends with a line of its own verdict and OpenSSL's error stack
// (lines of "hex:error:..."); the lines before those say what went wrong.
std::string ToolComplaint(const std::string& output) {
  std::string said;
  size_t at = 0;
  while (at < output.size()) {
    size_t end = output.find('\n', at);
    if (end == std::string::npos) end = output.size();
    const std::string line = TrimBlanks(output.substr(at, end - at));
    at = end + 1;
    if (line.empty() || line == "Failed" || line.find(":error:") != std::string::npos ||
        line.rfind("Enter PEM pass phrase", 0) == 0)
      continue;
    said += (said.empty() ? "" : "; ") + line;
  }
  return said.empty() ? "osslsigncode failed without saying why" : said;
}

// The value after "label" on the first line that has it, blanks trimmed.
std::string ValueAfter(const std::string& text, const std::string& label, size_t from = 0) {
  const size_t at = text.find(label, from);
  if (at == std::string::npos) return "";
  const size_t end = text.find('\n', at);
  return TrimBlanks(text.substr(at + label.size(), end == std::string::npos ? end : end - at - label.size()));
}

}  // namespace

SignSettings OverlaySignSettings(const SignSettings& base, const SignSettings& given) {
  SignSettings s = base;
  for (const SignKey& k : kSignKeys) {
    if (!(given.*k.field).empty()) s.*k.field = given.*k.field;
  }
  // Naming one kind of key on the command line drops the project's other kind.
  if (!given.pkcs12.empty()) s.certificate.clear(), s.key.clear();
  if (!given.certificate.empty() || !given.key.empty()) s.pkcs12.clear();
  if (!given.passwordEnv.empty()) s.passwordFile.clear();
  if (!given.passwordFile.empty()) s.passwordEnv.clear();
  return s;
}

std::vector<std::string> CheckSignSettings(const SignSettings& s) {
  std::vector<std::string> problems;
  if (!s.pkcs12.empty() && (!s.certificate.empty() || !s.key.empty()))
    problems.push_back("give the signer as PKCS12, or as Certificate and Key, not both");
  else if (s.pkcs12.empty() && (s.certificate.empty() != s.key.empty()))
    problems.push_back("signing needs both Certificate and Key (PEM files), or one PKCS12 file");
  if (!s.passwordFile.empty() && !s.passwordEnv.empty())
    problems.push_back("give the key's password by PasswordFile or PasswordEnv, not both");
  for (const std::string* path : {&s.certificate, &s.key, &s.pkcs12, &s.passwordFile}) {
    if (!path->empty() && HostKindOf(*path) != HostKind::File) problems.push_back("file not found: " + *path);
  }
  return problems;
}

bool SetSignKey(const std::string& key, const std::string& value, const std::string& folder,
                SignSettings& settings) {
  for (const SignKey& k : kSignKeys) {
    if (!SameIniName(key, k.name)) continue;
    settings.*k.field = k.isPath && !value.empty() ? JoinHostPath(folder, value) : value;
    return true;
  }
  return false;
}

bool SignFile(const SignSettings& s, int64_t signingTime, const std::string& in, const std::string& out,
              std::string& error) {
  std::string password;
  if (!ReadKeyPassword(s, password, error)) return false;
  std::vector<std::string> args = {"osslsigncode", "sign", "-h", "sha256"};
  if (!s.pkcs12.empty())
    args.insert(args.end(), {"-pkcs12", s.pkcs12});
  else
    args.insert(args.end(), {"-certs", s.certificate, "-key", s.key});
  // The password travels through a pipe: it shows in no process list.
  if (!s.passwordFile.empty() || !s.passwordEnv.empty()) args.insert(args.end(), {"-readpass", "-"});
  if (!s.description.empty()) args.insert(args.end(), {"-n", s.description});
  if (!s.url.empty()) args.insert(args.end(), {"-i", s.url});
  if (!s.timestampServer.empty())
    args.insert(args.end(), {"-ts", s.timestampServer});
  else
    args.insert(args.end(), {"-time", std::to_string(signingTime)});
  args.insert(args.end(), {"-in", in, "-out", out});
  std::remove(out.c_str());  // osslsigncode will not overwrite
  std::string output;
  const int code = RunHostProgram(args, password, output);
  if (code == 0 && HostKindOf(out) == HostKind::File) return true;
  std::remove(out.c_str());
  error = code < 0 ? output : "signing failed: " + ToolComplaint(output);
  return false;
}

SignatureFacts ParseVerifyOutput(const std::string& output) {
  SignatureFacts f;
  f.checked = true;
  f.present = output.find("No signature found") == std::string::npos &&
              output.find("Signature Index:") != std::string::npos;
  if (!f.present) return f;
  // osslsigncode names the signer only once the digest matches.
  const size_t signers = output.find("Signer's certificate:");
  if (signers != std::string::npos) {
    f.signer = ValueAfter(output, "Subject:", signers);
    f.issuer = ValueAfter(output, "Issuer :", signers);
  }
  f.signingTime = ValueAfter(output, "Signing time:");
  f.timestamped = output.find("Timestamp is not available") == std::string::npos &&
                  output.find("The signature is timestamped") != std::string::npos;
  const std::string current = ValueAfter(output, "Current message digest    :");
  const std::string calculated = ValueAfter(output, "Calculated message digest :");
  f.coversFile = !current.empty() && current == calculated;
  f.chainTrusted = output.find("Signature verification: ok") != std::string::npos;
  if (!f.chainTrusted) f.problem = ValueAfter(output, "Error:");
  return f;
}

SignatureFacts ReadSignature(const std::string& path, const std::string& ca) {
  // Revocation lists are not fetched: reading a package stays offline.
  std::vector<std::string> args = {"osslsigncode", "verify", "-ignore-cdp"};
  if (!ca.empty()) args.insert(args.end(), {"-CAfile", ca});
  args.insert(args.end(), {"-in", path});
  std::string output;
  if (RunHostProgram(args, "", output) < 0) {
    SignatureFacts f;
    f.problem = output;
    return f;
  }
  return ParseVerifyOutput(output);
}
