#include "signing.h"

#include <cstdio>
#include <cstdlib>

#include "hostfiles.h"
#include "hostprocess.h"
#include "inifile.h"

namespace {

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
    std::vector<uint8_t> bytes;
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
