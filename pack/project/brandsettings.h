// What a project and the command line say about the setup program's own
// identity: its icon, its version information and the execution level its
// manifest requests. The resources themselves are written by the package
// (branding.h); here are the values, their checks and the icon file's reader.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Texts are UTF-8; the version resource stores them as UTF-16, whatever the
// package's code page.
struct BrandSettings {
  std::string icon;  // host path of an .ico file
  std::string productName;
  std::string companyName;
  std::string productVersion;  // one to four numbers 0..65535, dot-separated
  std::string fileVersion;
  std::string copyright;
  std::string description;
  std::string executionLevel;  // asInvoker, highestAvailable, requireAdministrator; empty: none named

  // True when any value is set: only then is the stub's copy rewritten.
  bool Requested() const;
};

// The [Package] keys that set BrandSettings, in the reference's order.
const std::vector<std::string>& BrandKeys();

// The field a key names (case ignored), or null for another key.
std::string* BrandField(BrandSettings& settings, const std::string& key);
const std::string* BrandField(const BrandSettings& settings, const std::string& key);

// The fields of `given` that are set replace those of `base`.
BrandSettings OverlayBrandSettings(const BrandSettings& base, const BrandSettings& given);

// "1", "1.2", "1.2.3" or "1.2.3.4" (missing numbers are 0), each 0..65535.
bool ParseVersionNumbers(const std::string& text, uint16_t numbers[4]);

// The level as the manifest spells it, from any case of asInvoker,
// highestAvailable or requireAdministrator; empty for anything else.
std::string CanonicalExecutionLevel(const std::string& text);

// Why `value` cannot be the value of brand key `key`; empty when it can. The
// icon is read and checked as a whole.
std::string CheckBrandValue(const std::string& key, const std::string& value);

// One image of an icon file, as RT_ICON stores it, with the file's directory
// entry (whose last two fields RT_GROUP_ICON replaces by the resource id).
struct IconImage {
  uint8_t width = 0, height = 0, colors = 0;  // 0 in width or height means 256
  uint16_t planes = 0, bitCount = 0;
  std::vector<uint8_t> data;  // a DIB (BITMAPINFOHEADER first) or a PNG
};

// Every image of an .ico file, or false with `why` set: the file must be an
// icon file (not a cursor) with at least one image, each lying within the
// file and each a DIB or a PNG.
bool ParseIconFile(const std::vector<uint8_t>& bytes, std::vector<IconImage>& images, std::string& why);
bool ReadIconFile(const std::string& path, std::vector<IconImage>& images, std::string& why);
