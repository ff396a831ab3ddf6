// The resource section of a PE image, read into a flat list and written back.
//
// The section is a three-level tree (type, name, language) of directories
// whose leaves point at the data by RVA. Reading flattens it; writing lays
// out a new tree (directories, then the leaves' data entries, then the name
// strings, then the data, each datum 8-aligned) with named entries before
// numbered ones and both sorted, as the system's lookup expects. The image
// must end with the resource section, or with it and the base relocations,
// which are then moved behind the grown section; nothing else in the image
// points at those bytes. The image's sizes, data directory and checksum are
// set to match.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A type or name: a number, or a name (UTF-16) when `text` is not empty.
struct ResourceName {
  uint16_t id = 0;
  std::u16string text;
  bool operator<(const ResourceName& o) const;
  bool operator==(const ResourceName& o) const { return id == o.id && text == o.text; }
};

struct Resource {
  ResourceName type;
  ResourceName name;
  uint16_t language = 0;
  uint32_t codePage = 0;
  std::vector<uint8_t> data;
};

constexpr uint16_t kResourceIcon = 3;
constexpr uint16_t kResourceGroupIcon = 14;
constexpr uint16_t kResourceVersion = 16;
constexpr uint16_t kResourceManifest = 24;

// Every resource of the image, in the order of its tree; false with `error`
// set when the image is no PE image or its tree is damaged. An image
// without resources gives an empty list.
bool ReadPeResources(const std::vector<uint8_t>& image, std::vector<Resource>& resources, std::string& error);

// Replaces the image's resource section by one holding `resources`, moves
// the base relocations behind it when they follow it, and sets SizeOfImage,
// SizeOfInitializedData, the data directory and the checksum. False with
// `error` set when the image is laid out in a way this cannot change without
// moving code or data: resources not at a section's start, another section
// after them, bytes after the last section, or a signature.
bool WritePeResources(std::vector<uint8_t>& image, const std::vector<Resource>& resources,
                      std::string& error);
