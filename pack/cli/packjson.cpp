#include "packjson.h"

#include <cstdio>
#include <cstring>

#include "codepage.h"
#include "commands.h"
#include "infocabinet.h"
#include "setupscript.h"
#include "szdd.h"
#include "uTrans.h"

using nlohmann::json;

// Stored names and texts are in the package's code page; JSON is UTF-8.
std::string JsonText(const std::string& stored, int codePage) { return CodePageToUtf8(stored, codePage); }

namespace {

json FileJson(const PackageImage& image) {
  return {{"path", JsonText(image.path)}, {"size", image.fileSize}};
}

json HeaderJson(const PackageImage& image) {
  const PackageHeader& h = image.header;
  return {{"packageBase", image.base},
          {"packageBaseField", image.baseField},
          {"langTextSize", h.LangTextSize},
          {"cabLibSize", h.CabLibSize},
          {"infoCabSize", h.InfoCabSize},
          {"passwordProtected", h.PasswordProtected != 0},
          {"reserved", {h.Reserved1, h.Reserved2, h.Reserved3}}};
}

json BlocksJson(const PackageImage& image) {
  const PackageHeader& h = image.header;
  std::string text;
  const std::string english = WriteLangText(DefaultLangTable());
  const bool builtIn = ReadPackageBlock(image, image.blocks.LangText, h.LangTextSize, text) &&
                       (text == english || text == english + CodePageLine(image.codePage));
  json library = {{"offset", image.blocks.CabLib}, {"size", h.CabLibSize}, {"expandedSize", nullptr}};
  SzddHeader szdd;
  if (h.CabLibSize > 0 && ReadPackageBlock(image, image.blocks.CabLib, h.CabLibSize, text) &&
      ReadSzddHeader(reinterpret_cast<const uint8_t*>(text.data()), text.size(), szdd))
    library["expandedSize"] = szdd.expandedLength;
  return {{"languageText",
           {{"offset", image.blocks.LangText},
            {"size", h.LangTextSize},
            {"builtIn", builtIn},
            {"codePage", image.codePage},
            {"codePageRecorded", image.codePageRecorded}}},
          {"cabinetLibrary", library},
          {"informationCabinet", {{"offset", image.blocks.InfoCab}, {"size", h.InfoCabSize}}},
          {"payload",
           {{"offset", image.blocks.Payload},
            {"size", int64_t(image.fileSize) - image.blocks.Payload},
            {"scrambled", h.PasswordProtected != 0}}}};
}

json ListTextJson(const std::string& list, int codePage) {
  size_t lines = list.empty() ? 0 : 1;
  for (size_t at = list.find("\r\n"); at != std::string::npos; at = list.find("\r\n", at + 2)) ++lines;
  return {{"lines", lines}, {"bytes", list.size()}, {"text", JsonText(list, codePage)}};
}

json ScriptJson(const SetupScript& s, int codePage) {
  return {{"AppName", JsonText(s.AppName, codePage)},
          {"line2", JsonText(s.Line2, codePage)},
          {"Unattended", s.Unattended},
          {"MinFree", s.MinFree},
          {"DestDir", JsonText(s.DestDir, codePage)},
          {"OverwriteMode", s.OverwriteMode},
          {"ShowUnpackPage", s.ShowUnpackPage},
          {"line8", JsonText(s.Line8, codePage)},
          {"LaunchFile", JsonText(s.LaunchFile, codePage)},
          {"ReadmeFile", JsonText(s.ReadmeFile, codePage)},
          {"RunProgram", JsonText(s.RunProgram, codePage)},
          {"RunParams", JsonText(s.RunParams, codePage)},
          {"StartQuestion", JsonText(s.StartQuestion, codePage)},
          {"FinalMessage", JsonText(s.FinalMessage, codePage)},
          {"ReadmeText", ListTextJson(s.ReadmeText, codePage)},
          {"LicenseText", ListTextJson(s.LicenseText, codePage)}};
}

}  // namespace

std::string IsoTimeOfSigningTime(const std::string& text) {
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  char month[4] = {}, zone[4] = {};
  int day = 0, hour = 0, minute = 0, second = 0, year = 0, used = 0;
  if (std::sscanf(text.c_str(), "%3s %d %d:%d:%d %d %3s%n", month, &day, &hour, &minute, &second, &year, zone,
                  &used) != 7 ||
      size_t(used) != text.size() || std::string(zone) != "GMT")
    return text;
  const char* found = std::strstr(kMonths, month);
  if (!found || (found - kMonths) % 3 != 0) return text;
  char iso[32];
  std::snprintf(iso, sizeof iso, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, int(found - kMonths) / 3 + 1, day,
                hour, minute, second);
  return iso;
}

namespace {

json FilesJson(const PayloadWalk& walk, int codePage) {
  json files = json::array();
  for (const PackageFile& f : walk.files) {
    std::string time = DosStampText(f.date, f.time) + "Z";  // stored as UTC
    time[10] = 'T';
    files.push_back({{"name", JsonText(f.name, codePage)},
                     {"size", f.size},
                     {"time", time},
                     {"attributes", AttributeText(f.attributes)},
                     {"attributeBits", f.attributes},
                     {"volume", f.volume}});
  }
  return files;
}

json PayloadJson(const PayloadWalk& walk) {
  uint64_t bytes = 0;
  for (const PackageFile& f : walk.files) bytes += f.size;
  json volumes = json::array();
  for (const std::string& v : walk.volumes) volumes.push_back(JsonText(v));
  return {{"fileCount", walk.files.size()}, {"bytes", bytes}, {"volumes", volumes}};
}

json SignatureJson(const SignatureFacts& f) {
  if (!f.checked) return {{"checked", false}, {"problem", f.problem}};
  if (!f.present) return {{"checked", true}, {"present", false}};
  return {{"checked", true},
          {"present", true},
          {"signer", f.signer},
          {"issuer", f.issuer},
          {"signingTime", IsoTimeOfSigningTime(f.signingTime)},
          {"timestamped", f.timestamped},
          {"coversFile", f.coversFile},
          {"chainTrusted", f.chainTrusted}};
}

}  // namespace

json InfoJson(const PackageImage& image, const std::map<std::string, std::string>* infoFiles,
              const PayloadWalk* walk, const std::string& recordSummary, const SignatureFacts& signature) {
  json doc = {{"format", kJsonFormat},
              {"file", FileJson(image)},
              {"header", HeaderJson(image)},
              {"blocks", BlocksJson(image)},
              {"setupScript", nullptr},
              {"pictures", nullptr},
              {"integrityRecord", nullptr},
              {"payload", nullptr},
              {"files", nullptr},
              {"signature", SignatureJson(signature)}};
  if (infoFiles) {
    SetupScript script;
    const auto found = infoFiles->find(kSetupScriptName);
    if (found != infoFiles->end() && ParseSetupScript(found->second, script))
      doc["setupScript"] = ScriptJson(script, image.codePage);
    doc["pictures"] = json::object();
    for (const char* picture : {kSidePictureName, kHeaderPictureName}) {
      const auto it = infoFiles->find(picture);
      doc["pictures"][picture] = it == infoFiles->end() ? json(nullptr) : json(it->second.size());
    }
    doc["integrityRecord"] = recordSummary;
  }
  if (walk) {
    doc["payload"] = PayloadJson(*walk);
    doc["files"] = FilesJson(*walk, image.codePage);
  }
  return doc;
}

json ListJson(const PackageImage& image, const PayloadWalk& walk) {
  return {{"format", kJsonFormat},
          {"file", FileJson(image)},
          {"payload", PayloadJson(walk)},
          {"files", FilesJson(walk, image.codePage)}};
}

json VerifyJson(const PackageImage& image, const PayloadWalk& walk, const std::vector<std::string>& problems,
                const std::string& recordNote, const SignatureFacts& signature) {
  json list = json::array();
  for (const std::string& p : problems) list.push_back(JsonText(p));
  return {{"format", kJsonFormat},
          {"file", FileJson(image)},
          {"ok", problems.empty()},
          {"problems", list},
          {"integrityRecord", recordNote},
          {"payload", PayloadJson(walk)},
          {"files", FilesJson(walk, image.codePage)},
          {"signature", SignatureJson(signature)}};
}
