#include "brandsettings.h"

#include <cstring>

#include "byteorder.h"
#include "hostfiles.h"
#include "inifile.h"

namespace {

struct BrandKey {
  const char* name;
  std::string BrandSettings::*field;
};

const BrandKey kBrandKeys[] = {
    {"Icon", &BrandSettings::icon},
    {"ProductName", &BrandSettings::productName},
    {"CompanyName", &BrandSettings::companyName},
    {"ProductVersion", &BrandSettings::productVersion},
    {"FileVersion", &BrandSettings::fileVersion},
    {"Copyright", &BrandSettings::copyright},
    {"Description", &BrandSettings::description},
    {"ExecutionLevel", &BrandSettings::executionLevel},
};

// Reasonable icons hold a handful of images; a directory that claims
// thousands is damage, not an icon.
constexpr size_t kMaxIconImages = 64;

}  // namespace

bool BrandSettings::Requested() const {
  for (const BrandKey& k : kBrandKeys) {
    if (!(this->*k.field).empty()) return true;
  }
  return false;
}

const std::vector<std::string>& BrandKeys() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const BrandKey& k : kBrandKeys) n.push_back(k.name);
    return n;
  }();
  return names;
}

std::string* BrandField(BrandSettings& settings, const std::string& key) {
  for (const BrandKey& k : kBrandKeys) {
    if (SameIniName(key, k.name)) return &(settings.*k.field);
  }
  return nullptr;
}

const std::string* BrandField(const BrandSettings& settings, const std::string& key) {
  return BrandField(const_cast<BrandSettings&>(settings), key);
}

BrandSettings OverlayBrandSettings(const BrandSettings& base, const BrandSettings& given) {
  BrandSettings out = base;
  for (const BrandKey& k : kBrandKeys) {
    if (!(given.*k.field).empty()) out.*k.field = given.*k.field;
  }
  return out;
}

bool ParseVersionNumbers(const std::string& text, uint16_t numbers[4]) {
  int count = 0;
  size_t at = 0;
  std::memset(numbers, 0, 4 * sizeof numbers[0]);
  while (true) {
    uint32_t value = 0;
    const size_t start = at;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 6; ++at)
      value = value * 10 + uint32_t(text[at] - '0');
    if (at == start || value > 0xFFFF || count == 4) return false;
    numbers[count++] = uint16_t(value);
    if (at == text.size()) return true;
    if (text[at++] != '.') return false;
  }
}

std::string CanonicalExecutionLevel(const std::string& text) {
  for (const char* level : {"asInvoker", "highestAvailable", "requireAdministrator"}) {
    if (SameIniName(text, level)) return level;
  }
  return "";
}

std::string CheckBrandValue(const std::string& key, const std::string& value) {
  uint16_t numbers[4];
  if ((SameIniName(key, "ProductVersion") || SameIniName(key, "FileVersion")) &&
      !ParseVersionNumbers(value, numbers))
    return key + " must be one to four numbers from 0 to 65535 separated by dots (like 2.1.0.7), not " +
           value;
  if (SameIniName(key, "ExecutionLevel") && CanonicalExecutionLevel(value).empty())
    return "ExecutionLevel must be asInvoker, highestAvailable or requireAdministrator, not " + value;
  std::vector<IconImage> images;
  std::string why;
  if (SameIniName(key, "Icon") && !ReadIconFile(value, images, why)) return "Icon: " + value + ": " + why;
  return "";
}

bool ParseIconFile(const std::vector<uint8_t>& bytes, std::vector<IconImage>& images, std::string& why) {
  images.clear();
  if (bytes.size() < 6 || ReadLe16(&bytes[0]) != 0 || ReadLe16(&bytes[2]) != 1)
    return why = "not an icon file (an .ico file starts with 0, 0, 1, 0)", false;
  const size_t count = ReadLe16(&bytes[4]);
  if (count == 0) return why = "the icon file holds no image", false;
  if (count > kMaxIconImages)
    return why = "the icon file claims " + std::to_string(count) + " images; at most " +
                 std::to_string(kMaxIconImages) + " are taken",
           false;
  if (6 + 16 * count > bytes.size()) return why = "the icon file ends inside its directory", false;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = &bytes[6 + 16 * i];
    const uint64_t size = ReadLe32(e + 8), offset = ReadLe32(e + 12);
    const std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count);
    if (size < 8 || offset + size > bytes.size())
      return why = which + " lies outside the file (" + std::to_string(size) + " bytes at " +
                   std::to_string(offset) + ")",
             false;
    const uint8_t* d = &bytes[offset];
    const bool png = std::memcmp(d, "\x89PNG\r\n\x1A\n", 8) == 0;
    if (!png && (size < 40 || ReadLe32(d) != 40))
      return why = which + " is neither a bitmap (40-byte header) nor a PNG image", false;
    IconImage image;
    image.width = e[0], image.height = e[1], image.colors = e[2];
    image.planes = ReadLe16(e + 4), image.bitCount = ReadLe16(e + 6);
    // Some icon editors leave these at 0; the bitmap's own header knows.
    if (!png && image.bitCount == 0) image.bitCount = ReadLe16(d + 14), image.planes = ReadLe16(d + 12);
    image.data.assign(d, d + size);
    images.push_back(image);
  }
  return true;
}

bool ReadIconFile(const std::string& path, std::vector<IconImage>& images, std::string& why) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) return why = "cannot read the file", false;
  return ParseIconFile(bytes, images, why);
}
