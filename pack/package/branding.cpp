#include "branding.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "byteorder.h"
#include "codepage.h"
#include "inifile.h"
#include "peresources.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Version information in US English, UTF-16: the pair Explorer looks up first.
constexpr uint16_t kVersionLanguage = 0x0409;
constexpr uint16_t kVersionCodePage = 1200;

// The GUIDs by which a manifest declares the systems a program was tested
// on, Vista to Windows 10 and 11 (which share one). Windows XP reads the
// same manifest and ignores the section.
const char* const kSupportedSystems[] = {
    "e2011457-1546-43c5-a5fe-008deee3d3f0",  // Vista
    "35138b9a-5d96-4fbd-8e2d-a2440225f93a",  // 7
    "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",  // 8
    "1f676c76-80e1-4239-95bb-83d0f6d0da78",  // 8.1
    "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a",  // 10 and 11
};

std::u16string Utf16Of(const std::string& utf8) {
  std::u16string out;
  for (size_t i = 0; i < utf8.size();) {
    const uint8_t c = uint8_t(utf8[i]);
    const int extra = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
    uint32_t code = extra == 0 ? c : extra == 1 ? c & 0x1F : extra == 2 ? c & 0x0F : c & 0x07;
    bool ok = extra >= 0 && i + size_t(extra) < utf8.size() + (extra == 0);
    for (int k = 1; ok && k <= extra; ++k) {
      const uint8_t next = uint8_t(utf8[i + size_t(k)]);
      ok = (next & 0xC0) == 0x80;
      code = code << 6 | (next & 0x3F);
    }
    if (!ok) code = 0xFFFD;
    i += ok ? size_t(extra) + 1 : 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out += char16_t(0xD800 + (code >> 10));
      out += char16_t(0xDC00 + (code & 0x3FF));
    } else {
      out += char16_t(code);
    }
  }
  return out;
}

void Pad4(Bytes& out) { out.resize((out.size() + 3) & ~size_t(3), 0); }

// One node of a version resource: length, value length, type, key, value,
// children, each part 32-bit aligned from the start of the resource.
Bytes VersionNode(const std::string& key, const Bytes& value, uint16_t valueLength, bool text,
                  const std::vector<Bytes>& children) {
  Bytes node(6, 0);
  for (char16_t c : Utf16Of(key + '\0')) AppendLe16(node, uint16_t(c));
  Pad4(node);
  node.insert(node.end(), value.begin(), value.end());
  for (const Bytes& child : children) {
    Pad4(node);
    node.insert(node.end(), child.begin(), child.end());
  }
  WriteLe16(&node[0], uint16_t(node.size()));
  WriteLe16(&node[2], valueLength);
  WriteLe16(&node[4], text ? 1 : 0);
  return node;
}

Bytes StringNode(const std::string& key, const std::string& utf8) {
  Bytes value;
  const std::u16string text = Utf16Of(utf8 + '\0');
  for (char16_t c : text) AppendLe16(value, uint16_t(c));
  return VersionNode(key, value, uint16_t(text.size()), true, {});
}

Bytes FixedFileInfo(const BrandSettings& s) {
  uint16_t file[4] = {}, product[4] = {};
  if (!s.fileVersion.empty()) ParseVersionNumbers(s.fileVersion, file);
  if (!s.productVersion.empty()) ParseVersionNumbers(s.productVersion, product);
  Bytes info;
  for (uint32_t v :
       {0xFEEF04BDu, 0x00010000u, uint32_t(file[0]) << 16 | file[1], uint32_t(file[2]) << 16 | file[3],
        uint32_t(product[0]) << 16 | product[1], uint32_t(product[2]) << 16 | product[3],
        0x3Fu,        // the flags that are defined
        0u,           // none set
        0x00040004u,  // VOS_NT_WINDOWS32
        1u,           // VFT_APP
        0u, 0u, 0u})
    AppendLe32(info, v);
  return info;
}

const Resource* FindResource(const std::vector<Resource>& all, uint16_t type) {
  for (const Resource& r : all) {
    if (r.type.text.empty() && r.type.id == type) return &r;
  }
  return nullptr;
}

// Replaces the first icon group (the program's icon, which Explorer shows)
// by `images`; icons that only it used go, the new ones get numbers no other
// icon has.
bool ReplaceIconGroup(std::vector<Resource>& all, const std::vector<IconImage>& images, std::string& error) {
  const Resource* found = FindResource(all, kResourceGroupIcon);
  if (!found) return error = "the stub has no icon group to replace", false;
  const Resource group = *found;
  std::set<uint16_t> others, own;
  for (const Resource& r : all) {
    if (!r.type.text.empty() || r.type.id != kResourceGroupIcon) continue;
    std::set<uint16_t>& ids = r.name == group.name && r.language == group.language ? own : others;
    for (size_t at = 6; at + 14 <= r.data.size(); at += 14) ids.insert(ReadLe16(&r.data[at + 12]));
  }
  uint16_t next = 1;
  std::vector<Resource> kept;
  for (const Resource& r : all) {
    const bool icon = r.type.text.empty() && r.type.id == kResourceIcon && r.name.text.empty();
    if (icon && own.count(r.name.id) && !others.count(r.name.id)) continue;
    if (r.type == group.type && r.name == group.name && r.language == group.language) continue;
    if (icon) next = std::max<uint16_t>(next, uint16_t(r.name.id + 1));
    kept.push_back(r);
  }
  Resource newGroup = group;
  newGroup.data.assign(6, 0);
  WriteLe16(&newGroup.data[2], 1);
  WriteLe16(&newGroup.data[4], uint16_t(images.size()));
  for (const IconImage& image : images) {
    Resource icon;
    icon.type.id = kResourceIcon;
    icon.name.id = next++;
    icon.language = group.language;
    icon.data = image.data;
    kept.push_back(icon);
    for (uint8_t b : {image.width, image.height, image.colors, uint8_t(0)}) newGroup.data.push_back(b);
    AppendLe16(newGroup.data, image.planes);
    AppendLe16(newGroup.data, image.bitCount);
    AppendLe32(newGroup.data, uint32_t(image.data.size()));
    AppendLe16(newGroup.data, icon.name.id);
  }
  kept.push_back(newGroup);
  all.swap(kept);
  return true;
}

// Every resource of `type` is replaced by one of the given data, under the
// name and language of the first (or 1 and US English when there is none).
void ReplaceSingle(std::vector<Resource>& all, uint16_t type, const Bytes& data) {
  Resource r;
  r.type.id = type;
  r.name.id = 1;
  r.language = kVersionLanguage;
  if (const Resource* old = FindResource(all, type)) r.name = old->name, r.language = old->language;
  all.erase(std::remove_if(all.begin(), all.end(),
                           [type](const Resource& x) { return x.type.text.empty() && x.type.id == type; }),
            all.end());
  r.data = data;
  all.push_back(r);
}

}  // namespace

bool BrandManifest(const std::string& stubManifest, const std::string& executionLevel, std::string& manifest,
                   std::string& error) {
  const size_t end = stubManifest.rfind("</assembly>");
  if (end == std::string::npos) return error = "the stub's manifest is no assembly manifest", false;
  for (const char* part : {"<compatibility", "<trustInfo", "dpiAware", "<windowsSettings"}) {
    if (stubManifest.find(part) != std::string::npos)
      return error = std::string("the stub's manifest has its own ") + part + "; use a stub as built", false;
  }
  std::string added = "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\"><application>\n";
  for (const char* id : kSupportedSystems) added += "<supportedOS Id=\"{" + std::string(id) + "}\"/>\n";
  added +=
      "</application></compatibility>\n"
      "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings>\n"
      "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>\n"
      "</windowsSettings></application>\n";
  // The asm.v2 namespace, which Windows XP reads without fault and later
  // systems take as the same.
  if (!executionLevel.empty())
    added +=
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v2\"><security><requestedPrivileges>\n"
        "<requestedExecutionLevel level=\"" +
        executionLevel +
        "\" uiAccess=\"false\"/>\n"
        "</requestedPrivileges></security></trustInfo>\n";
  manifest = stubManifest.substr(0, end) + added + stubManifest.substr(end);
  return true;
}

std::vector<uint8_t> VersionResource(const BrandSettings& s) {
  std::vector<Bytes> strings;
  const std::pair<const char*, const std::string*> fields[] = {
      {"CompanyName", &s.companyName}, {"FileDescription", &s.description},
      {"FileVersion", &s.fileVersion}, {"LegalCopyright", &s.copyright},
      {"ProductName", &s.productName}, {"ProductVersion", &s.productVersion},
  };
  for (const auto& f : fields) {
    if (!f.second->empty()) strings.push_back(StringNode(f.first, *f.second));
  }
  char table[9];
  std::snprintf(table, sizeof table, "%04X%04X", kVersionLanguage, kVersionCodePage);
  const Bytes stringTable = VersionNode(table, {}, 0, true, strings);
  Bytes translation;
  AppendLe16(translation, kVersionLanguage);
  AppendLe16(translation, kVersionCodePage);
  const Bytes var = VersionNode("Translation", translation, 4, false, {});
  return VersionNode("VS_VERSION_INFO", FixedFileInfo(s), 52, false,
                     {VersionNode("StringFileInfo", {}, 0, true, {stringTable}),
                      VersionNode("VarFileInfo", {}, 0, true, {var})});
}

BrandSettings BrandDefaults(const BrandSettings& settings, const std::string& appNameUtf8) {
  BrandSettings s = settings;
  if (s.productName.empty()) s.productName = appNameUtf8;
  if (s.description.empty()) s.description = appNameUtf8 + " Setup";
  if (s.productVersion.empty()) s.productVersion = s.fileVersion;
  if (s.fileVersion.empty()) s.fileVersion = s.productVersion;
  s.executionLevel = CanonicalExecutionLevel(s.executionLevel);
  return s;
}

bool BrandStub(const BrandSettings& s, std::vector<uint8_t>& stub, std::string& error) {
  std::vector<Resource> resources;
  if (!ReadPeResources(stub, resources, error)) return error = "the stub's resources: " + error, false;
  if (!s.icon.empty()) {
    std::vector<IconImage> images;
    if (!ReadIconFile(s.icon, images, error)) return error = "Icon: " + s.icon + ": " + error, false;
    if (!ReplaceIconGroup(resources, images, error)) return false;
  }
  const Resource* old = FindResource(resources, kResourceManifest);
  std::string manifest;
  if (!old) return error = "the stub has no manifest", false;
  if (!BrandManifest(std::string(old->data.begin(), old->data.end()), s.executionLevel, manifest, error))
    return false;
  ReplaceSingle(resources, kResourceManifest, Bytes(manifest.begin(), manifest.end()));
  ReplaceSingle(resources, kResourceVersion, VersionResource(s));
  if (!WritePeResources(stub, resources, error)) return error = "the stub: " + error, false;
  return true;
}

bool BrandSetupStub(const Project& project, const BrandSettings& given, PackageParts& parts, Diagnostics& d) {
  const BrandSettings merged = OverlayBrandSettings(project.brand, given);
  if (!merged.Requested()) return true;
  bool ok = true;
  for (const std::string& key : BrandKeys()) {
    const std::string& value = *BrandField(given, key);
    if (value.empty()) {
      // The project's values were checked where they were read.
      const int line = KeyLine(project, "Package", key);
      ok &= !(line && d.HasErrorAt(project.path, line));
      continue;
    }
    std::string why = CheckBrandValue(key, value);
    if (why.empty() && !CheckUtf8(value, why)) why = key + ": " + why;
    if (!why.empty()) d.Error(project.path, 0, "command line: " + why), ok = false;
  }
  if (!ok) return false;
  std::string error;
  const BrandSettings s = BrandDefaults(merged, CodePageToUtf8(project.script.AppName, project.codePage));
  if (!BrandStub(s, parts.Stub, error))
    return d.Error(project.path, KeyLine(project, "Package", "Stub"), error), false;
  parts.FileChecksum = true;
  return true;
}
