// Signing Setup.exe through osslsigncode with a throwaway authority made at
// test time: the signature verifies against it, covers the payload, repeats
// byte for byte, and a failure leaves nothing behind.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "pack_test_util.h"
#include "signing.h"

using cabtest::FileExists;
using cabtest::ReadFile;
using cabtest::RunTool;
using packtest::ProjectDir;
using packtest::RunPack;

namespace {

const char kKeyPassword[] = "test key pass";

// A certificate authority and a code-signing certificate it issued, in
// `dir`: ca.pem; signer.pem with signer.key (encrypted), and both in
// signer.p12 under the same password; pass.txt holds the password.
bool MakeSigner(const ProjectDir& dir) {
  const std::string pass = std::string("pass:'") + kKeyPassword + "'";
  dir.Write("ext.cnf",
            "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n");
  dir.Write("pass.txt", std::string(kKeyPassword) + "\n");
  return RunTool("cd '" + dir.Path() +
                     "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 "
                     "-subj '/CN=Veltra Test CA' -addext basicConstraints=critical,CA:TRUE "
                     "-addext keyUsage=critical,keyCertSign"
                     " && openssl req -newkey rsa:2048 -keyout signer.key -passout " +
                     pass + " -out signer.csr -subj '/CN=Veltra Test Signer/O=Veltra Tests'" +
                     " && openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
                     "-out signer.pem -days 2 -extfile ext.cnf"
                     " && openssl pkcs12 -export -inkey signer.key -passin " +
                     pass + " -in signer.pem -out signer.p12 -passout " + pass,
                 dir.File("openssl.log"));
}

std::string Project(const std::string& sign) {
  return "[Setup]\nAppName = Signed\nUnattended = 1\n[Package]\nStub = " VELTRA_WIN32_STUB
         "\nCabinetLibrary = none\n[Files]\n\\ = files\n" +
         sign;
}

const char kPemSign[] =
    "[Sign]\nCertificate = signer.pem\nKey = signer.key\nPasswordFile = pass.txt\n"
    "Description = Signed test\nURL = https://example.invalid/\n";

bool OsslVerify(const ProjectDir& dir, const std::string& exe) {
  return RunTool("osslsigncode verify -CAfile '" + dir.File("ca.pem") + "' -in '" + dir.File(exe) + "'",
                 dir.File("verify.log"));
}

class Signing : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunTool("command -v osslsigncode && command -v openssl", "/dev/null"))
      GTEST_SKIP() << "osslsigncode and openssl are needed";
    if (!FileExists(VELTRA_WIN32_STUB)) GTEST_SKIP() << "no win32 stub built: " VELTRA_WIN32_STUB;
    ASSERT_TRUE(MakeSigner(dir_)) << ReadFile(dir_.File("openssl.log"));
  }
  ProjectDir dir_;
};

}  // namespace

// PEM files with the password from a file, and the same signer as PKCS#12 from
// the command line with the password from the environment.
TEST_F(Signing, SignedFilesVerifyAndRepeat) {
  const struct {
    const char* title;
    std::string project, args;
  } cases[] = {
      {"PEM, password file", Project(kPemSign), ""},
      {"PKCS#12 on the command line, password from the environment", Project(""),
       "--sign-pkcs12 signer.p12 --sign-password-env VELTRA_TEST_SIGN_PASS"},
  };
  setenv("VELTRA_TEST_SIGN_PASS", kKeyPassword, 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    dir_.Write("p.ini", c.project);
    std::string out;
    ASSERT_EQ(0, RunPack("build p.ini --quiet " + c.args, out, dir_.Path())) << out;
    EXPECT_NE(out.find(", signed"), std::string::npos) << out;
    EXPECT_EQ(out.find(kKeyPassword), std::string::npos) << "the password was echoed";
    EXPECT_TRUE(OsslVerify(dir_, "Setup.exe")) << ReadFile(dir_.File("verify.log"));
    const std::string first = ReadFile(dir_.File("Setup.exe"));
    ASSERT_EQ(0, RunPack("build p.ini -o again.exe " + c.args, out, dir_.Path())) << out;
    EXPECT_TRUE(first == ReadFile(dir_.File("again.exe"))) << "signing twice gave different bytes";
    EXPECT_EQ(0, RunPack("verify Setup.exe --ca ca.pem", out, dir_.Path())) << out;
    EXPECT_NE(out.find("by /CN=Veltra Test Signer/O=Veltra Tests"), std::string::npos) << out;
    EXPECT_NE(out.find("covers the file as it is"), std::string::npos) << out;
    ASSERT_EQ(0, RunPack("info Setup.exe", out, dir_.Path())) << out;
    EXPECT_NE(out.find("signature          by /CN=Veltra Test Signer"), std::string::npos) << out;
    // The stated time in the JSON is ISO 8601 UTC, like the files' times.
    ASSERT_EQ(0, RunPack("verify Setup.exe --json", out, dir_.Path())) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex("\"signingTime\": ?\"\\d{4}-\\d\\d-\\d\\dT[0-9:]{8}Z\"")))
        << out;
  }
  unsetenv("VELTRA_TEST_SIGN_PASS");
}

// One changed payload byte: osslsigncode refuses the file, and so does verify,
// in words and in its JSON.
TEST_F(Signing, ChangedPayloadFailsVerification) {
  dir_.Write("p.ini", Project(kPemSign));
  std::string out;
  ASSERT_EQ(0, RunPack("build p.ini --quiet", out, dir_.Path())) << out;
  std::string exe = ReadFile(dir_.File("Setup.exe"));
  const size_t payload = exe.rfind("MSCF");
  ASSERT_NE(std::string::npos, payload);
  exe[payload + 200] ^= 1;
  dir_.Write("changed.exe", exe);
  EXPECT_FALSE(OsslVerify(dir_, "changed.exe"));
  EXPECT_NE(ReadFile(dir_.File("verify.log")).find("MISMATCH"), std::string::npos);
  EXPECT_EQ(1, RunPack("verify changed.exe", out, dir_.Path())) << out;
  EXPECT_NE(out.find("the signature does not cover the file as it is"), std::string::npos) << out;
  EXPECT_FALSE(
      RunTool("cd '" + dir_.Path() + "' && '" VELTRA_PACK_EXE "' verify --json changed.exe 2>/dev/null",
              dir_.File("json.txt")));
  const nlohmann::json doc = nlohmann::json::parse(ReadFile(dir_.File("json.txt")));
  EXPECT_TRUE(doc["signature"]["present"].get<bool>());
  EXPECT_FALSE(doc["signature"]["coversFile"].get<bool>());
  EXPECT_EQ(0, RunPack("info changed.exe", out, dir_.Path())) << out;
  EXPECT_NE(out.find("DOES NOT MATCH the file"), std::string::npos) << out;
  // Another authority does not vouch for the signer.
  ASSERT_TRUE(RunTool("cd '" + dir_.Path() +
                          "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout other.key -out other.pem "
                          "-days 2 -subj '/CN=Other CA'",
                      dir_.File("openssl.log")));
  EXPECT_EQ(1, RunPack("verify Setup.exe --ca other.pem", out, dir_.Path())) << out;
  EXPECT_NE(out.find("does not chain to other.pem"), std::string::npos) << out;
}

// Every way signing can fail says why and leaves the folder as it was.
TEST_F(Signing, FailuresLeaveNothing) {
  const struct {
    const char* title;
    std::string sign, args, says;
  } cases[] = {
      {"wrong password", "[Sign]\nPKCS12 = signer.p12\nPasswordEnv = VELTRA_TEST_WRONG\n", "",
       "signing failed"},
      {"password variable unset", "[Sign]\nPKCS12 = signer.p12\nPasswordEnv = VELTRA_TEST_UNSET\n", "",
       "VELTRA_TEST_UNSET (the key's password) is not set"},
      {"certificate without key", "[Sign]\nCertificate = signer.pem\n", "", "needs both Certificate and Key"},
      {"both kinds of key", "[Sign]\nCertificate = signer.pem\nKey = signer.key\nPKCS12 = signer.p12\n", "",
       "not both"},
      {"missing PKCS#12 file", std::string(kPemSign), "--sign-pkcs12 x.p12", "file not found: x.p12"},
      {"password in the project", "[Sign]\nPKCS12 = signer.p12\nPassword = secret\n", "",
       "p.ini:11: error: the key's password is never kept in the project"},
      {"two password sources", std::string(kPemSign) + "PasswordEnv = X\n", "", "not both"},
      {"unknown key", "[Sign]\nSigner = me\n", "", "unknown key Signer in [Sign]"},
      {"not a certificate", "[Sign]\nCertificate = pass.txt\nKey = signer.key\nPasswordFile = pass.txt\n", "",
       "signing failed"},
  };
  setenv("VELTRA_TEST_WRONG", "not the password", 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    dir_.Write("p.ini", Project(c.sign));
    const std::string before = dir_.Listing();
    std::string out;
    EXPECT_EQ(1, RunPack("build p.ini " + c.args, out, dir_.Path())) << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    EXPECT_EQ(before, dir_.Listing()) << "files were left behind:\n" << out;
  }
  unsetenv("VELTRA_TEST_WRONG");
  // --no-sign builds the same project unsigned.
  dir_.Write("p.ini", Project(kPemSign));
  std::string out;
  ASSERT_EQ(0, RunPack("build p.ini --no-sign", out, dir_.Path())) << out;
  EXPECT_EQ(0, RunPack("info Setup.exe", out, dir_.Path())) << out;
  EXPECT_NE(out.find("signature          none"), std::string::npos) << out;
}
