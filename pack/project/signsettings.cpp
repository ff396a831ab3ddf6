#include "signsettings.h"

#include "hostfiles.h"
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

std::vector<SignProblem> CheckSignSettings(const SignSettings& s) {
  std::vector<SignProblem> problems;
  if (!s.pkcs12.empty() && (!s.certificate.empty() || !s.key.empty()))
    problems.push_back({"PKCS12", "give the signer as PKCS12, or as Certificate and Key, not both"});
  else if (s.pkcs12.empty() && (s.certificate.empty() != s.key.empty()))
    problems.push_back({s.certificate.empty() ? "Key" : "Certificate",
                        "signing needs both Certificate and Key (PEM files), or one PKCS12 file"});
  if (!s.passwordFile.empty() && !s.passwordEnv.empty())
    problems.push_back({"PasswordEnv", "give the key's password by PasswordFile or PasswordEnv, not both"});
  for (const SignKey& k : kSignKeys) {
    const std::string& path = s.*k.field;
    if (k.isPath && !path.empty() && HostKindOf(path) != HostKind::File)
      problems.push_back({k.name, k.name + std::string(": file not found: ") + path});
  }
  return problems;
}

std::string SignValue(const SignSettings& settings, const std::string& key) {
  for (const SignKey& k : kSignKeys) {
    if (SameIniName(key, k.name)) return settings.*k.field;
  }
  return "";
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
