#include "peresources.h"

#include <algorithm>
#include <map>

#include "byteorder.h"
#include "pechecksum.h"

bool ResourceName::operator<(const ResourceName& o) const {
  // Named entries come first in a directory, sorted by their text.
  if (text.empty() != o.text.empty()) return !text.empty();
  return text.empty() ? id < o.id : text < o.text;
}

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kSubdirectory = 0x80000000u;
constexpr int kResourceDirectory = 2;
constexpr int kSecurityDirectory = 4;
constexpr int kRelocationDirectory = 5;
constexpr size_t kSectionHeaderSize = 40;

struct Section {
  size_t header;  // where its header lies in the file
  uint32_t virtualSize, virtualAddress, rawSize, rawOffset;
};

// Where the parts of the headers lie that the writer changes.
struct PeLayout {
  size_t optional = 0;   // the optional header
  size_t directory = 0;  // the data directory
  uint32_t directories = 0;
  uint32_t sectionAlignment = 0, fileAlignment = 0;
  std::vector<Section> sections;
};

uint32_t AlignUp(uint32_t value, uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

bool ReadLayout(const Bytes& image, PeLayout& pe, std::string& error) {
  PeImageFacts facts;
  if (!ReadPeImageFacts(image.data(), image.size(), facts)) return error = "not a PE image", false;
  const size_t header = ReadLe32(&image[0x3C]);
  const uint16_t sectionCount = ReadLe16(&image[header + 6]);
  const uint16_t optionalSize = ReadLe16(&image[header + 20]);
  pe.optional = header + 24;
  const bool plus = ReadLe16(&image[pe.optional]) == 0x20B;
  const size_t countAt = pe.optional + (plus ? 108 : 92);
  if (countAt + 4 > image.size() || optionalSize < (plus ? 112 : 96)) return error = "not a PE image", false;
  pe.directory = countAt + 4;
  pe.directories = std::min<uint32_t>(ReadLe32(&image[countAt]), (optionalSize - (plus ? 112 : 96)) / 8);
  pe.sectionAlignment = ReadLe32(&image[pe.optional + 32]);
  pe.fileAlignment = ReadLe32(&image[pe.optional + 36]);
  if (pe.fileAlignment == 0 || pe.sectionAlignment == 0 || pe.directories <= kRelocationDirectory)
    return error = "the PE headers are damaged", false;
  const size_t table = pe.optional + optionalSize;
  if (table + sectionCount * kSectionHeaderSize > image.size())
    return error = "the PE headers are damaged", false;
  for (size_t i = 0; i < sectionCount; ++i) {
    const uint8_t* s = &image[table + i * kSectionHeaderSize];
    pe.sections.push_back({table + i * kSectionHeaderSize, ReadLe32(s + 8), ReadLe32(s + 12),
                           ReadLe32(s + 16), ReadLe32(s + 20)});
    if (uint64_t(pe.sections.back().rawOffset) + pe.sections.back().rawSize > image.size())
      return error = "a section lies beyond the end of the file", false;
  }
  return true;
}

uint32_t DirectoryRva(const Bytes& image, const PeLayout& pe, int index) {
  return ReadLe32(&image[pe.directory + 8 * index]);
}

// The file offset of `size` bytes at `rva`, or SIZE_MAX when they do not
// lie within one section's file bytes.
size_t OffsetOfRva(const PeLayout& pe, uint32_t rva, uint32_t size) {
  for (const Section& s : pe.sections) {
    if (rva >= s.virtualAddress && uint64_t(rva) + size <= uint64_t(s.virtualAddress) + s.rawSize)
      return s.rawOffset + (rva - s.virtualAddress);
  }
  return SIZE_MAX;
}

class TreeReader {
 public:
  TreeReader(const Bytes& image, const PeLayout& pe, size_t base, size_t end)
      : image_(image), pe_(pe), base_(base), end_(end) {}

  bool Read(std::vector<Resource>& out, std::string& error) {
    Resource r;
    return Directory(0, 0, r, out, error);
  }

 private:
  bool Directory(uint32_t at, int level, Resource& r, std::vector<Resource>& out, std::string& error) {
    if (base_ + at + 16 > end_) return error = "a resource directory lies outside its section", false;
    const uint8_t* d = &image_[base_ + at];
    const size_t count = size_t(ReadLe16(d + 12)) + ReadLe16(d + 14);
    if (base_ + at + 16 + 8 * count > end_)
      return error = "a resource directory lies outside its section", false;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* e = d + 16 + 8 * i;
      const uint32_t name = ReadLe32(e), target = ReadLe32(e + 4);
      ResourceName n;
      if (name & kSubdirectory) {
        if (!NameText(name & ~kSubdirectory, n.text))
          return error = "a resource name lies outside its section", false;
      } else {
        n.id = uint16_t(name);
      }
      if (level == 0) r.type = n;
      if (level == 1) r.name = n;
      if (level == 2) r.language = n.id;
      // Subdirectories below the language level, or leaves above it, are
      // not a resource tree.
      const bool sub = (target & kSubdirectory) != 0;
      if (sub != (level < 2)) return error = "the resource tree is not three levels deep", false;
      if (sub ? !Directory(target & ~kSubdirectory, level + 1, r, out, error) : !Leaf(target, r, out, error))
        return false;
    }
    return true;
  }

  bool NameText(uint32_t at, std::u16string& text) const {
    if (base_ + at + 2 > end_) return false;
    const size_t length = ReadLe16(&image_[base_ + at]);
    if (base_ + at + 2 + 2 * length > end_ || length == 0) return false;
    for (size_t i = 0; i < length; ++i) text += char16_t(ReadLe16(&image_[base_ + at + 2 + 2 * i]));
    return true;
  }

  bool Leaf(uint32_t at, Resource& r, std::vector<Resource>& out, std::string& error) {
    if (base_ + at + 16 > end_) return error = "a resource entry lies outside its section", false;
    const uint8_t* e = &image_[base_ + at];
    const uint32_t rva = ReadLe32(e), size = ReadLe32(e + 4);
    const size_t offset = OffsetOfRva(pe_, rva, size);
    if (offset == SIZE_MAX) return error = "a resource's data lies outside the image", false;
    r.codePage = ReadLe32(e + 8);
    r.data.assign(image_.begin() + offset, image_.begin() + offset + size);
    out.push_back(r);
    return true;
  }

  const Bytes& image_;
  const PeLayout& pe_;
  size_t base_, end_;
};

const Section* ResourceSection(const Bytes& image, const PeLayout& pe) {
  const uint32_t rva = DirectoryRva(image, pe, kResourceDirectory);
  for (const Section& s : pe.sections) {
    if (rva && s.virtualAddress == rva) return &s;
  }
  return nullptr;
}

void PutLe16(Bytes& out, size_t at, uint16_t v) { WriteLe16(&out[at], v); }
void PutLe32(Bytes& out, size_t at, uint32_t v) { WriteLe32(&out[at], v); }

// The section's bytes for `resources` placed at `rva`.
Bytes LayOutTree(const std::vector<Resource>& resources, uint32_t rva) {
  // type -> name -> language -> the resource
  std::map<ResourceName, std::map<ResourceName, std::map<uint16_t, const Resource*>>> tree;
  for (const Resource& r : resources) tree[r.type][r.name][r.language] = &r;

  size_t directories = 16 + 8 * tree.size(), leaves = 0;
  std::map<std::u16string, size_t> strings;  // name -> its offset, set below
  for (const auto& type : tree) {
    if (!type.first.text.empty()) strings[type.first.text] = 0;
    directories += 16 + 8 * type.second.size();
    for (const auto& name : type.second) {
      if (!name.first.text.empty()) strings[name.first.text] = 0;
      directories += 16 + 8 * name.second.size();
      leaves += name.second.size();
    }
  }
  size_t at = directories + 16 * leaves;
  for (auto& s : strings) s.second = at, at += 2 + 2 * s.first.size();

  Bytes out(at, 0);
  size_t nextDirectory = 0, nextLeaf = directories;
  auto directory = [&](size_t named, size_t numbered) {
    const size_t here = nextDirectory;
    PutLe16(out, here + 12, uint16_t(named));
    PutLe16(out, here + 14, uint16_t(numbered));
    nextDirectory += 16 + 8 * (named + numbered);
    return here;
  };
  auto entryName = [&](const ResourceName& n) {
    return n.text.empty() ? n.id : uint32_t(strings[n.text]) | kSubdirectory;
  };
  auto counts = [](const auto& level, size_t& named) {
    named = 0;
    for (const auto& e : level) named += e.first.text.empty() ? 0 : 1;
    return level.size() - named;
  };
  size_t named = 0;
  size_t numbered = counts(tree, named);
  const size_t root = directory(named, numbered);
  size_t typeEntry = root + 16;
  for (const auto& type : tree) {
    numbered = counts(type.second, named);
    const size_t typeDir = directory(named, numbered);
    PutLe32(out, typeEntry, entryName(type.first));
    PutLe32(out, typeEntry + 4, uint32_t(typeDir) | kSubdirectory);
    typeEntry += 8;
    size_t nameEntry = typeDir + 16;
    for (const auto& name : type.second) {
      const size_t nameDir = directory(0, name.second.size());
      PutLe32(out, nameEntry, entryName(name.first));
      PutLe32(out, nameEntry + 4, uint32_t(nameDir) | kSubdirectory);
      nameEntry += 8;
      size_t languageEntry = nameDir + 16;
      for (const auto& language : name.second) {
        const Resource& r = *language.second;
        PutLe32(out, languageEntry, language.first);
        PutLe32(out, languageEntry + 4, uint32_t(nextLeaf));
        languageEntry += 8;
        out.resize(AlignUp(uint32_t(out.size()), 8), 0);
        PutLe32(out, nextLeaf, rva + uint32_t(out.size()));
        PutLe32(out, nextLeaf + 4, uint32_t(r.data.size()));
        PutLe32(out, nextLeaf + 8, r.codePage);
        nextLeaf += 16;
        out.insert(out.end(), r.data.begin(), r.data.end());
      }
    }
  }
  for (const auto& s : strings) {
    PutLe16(out, s.second, uint16_t(s.first.size()));
    for (size_t i = 0; i < s.first.size(); ++i) PutLe16(out, s.second + 2 + 2 * i, uint16_t(s.first[i]));
  }
  return out;
}

void SetSection(Bytes& image, const Section& s) {
  WriteLe32(&image[s.header + 8], s.virtualSize);
  WriteLe32(&image[s.header + 12], s.virtualAddress);
  WriteLe32(&image[s.header + 16], s.rawSize);
  WriteLe32(&image[s.header + 20], s.rawOffset);
}

}  // namespace

bool ReadPeResources(const Bytes& image, std::vector<Resource>& resources, std::string& error) {
  resources.clear();
  PeLayout pe;
  if (!ReadLayout(image, pe, error)) return false;
  const uint32_t rva = DirectoryRva(image, pe, kResourceDirectory);
  if (rva == 0) return true;
  const uint32_t size = ReadLe32(&image[pe.directory + 8 * kResourceDirectory + 4]);
  const size_t base = OffsetOfRva(pe, rva, size);
  if (base == SIZE_MAX) return error = "the resource directory lies outside the image", false;
  return TreeReader(image, pe, base, base + size).Read(resources, error);
}

bool WritePeResources(Bytes& image, const std::vector<Resource>& resources, std::string& error) {
  PeLayout pe;
  if (!ReadLayout(image, pe, error)) return false;
  const Section* found = ResourceSection(image, pe);
  if (!found) return error = "the image has no section that starts with its resources", false;
  if (DirectoryRva(image, pe, kSecurityDirectory) != 0)
    return error = "the image is signed; rewriting it would break the signature (use an unsigned stub)",
           false;
  Section rsrc = *found;
  // The sections after the resources in the address space must be exactly
  // those after them in the file, and at most the base relocations.
  std::vector<Section> after;
  uint64_t fileEnd = 0;
  for (const Section& s : pe.sections) {
    fileEnd = std::max(fileEnd, uint64_t(s.rawOffset) + s.rawSize);
    if (s.virtualAddress > rsrc.virtualAddress || (s.rawSize && s.rawOffset > rsrc.rawOffset))
      after.push_back(s);
  }
  const bool relocationsOnly =
      after.empty() || (after.size() == 1 && after[0].rawOffset > rsrc.rawOffset &&
                        after[0].virtualAddress == DirectoryRva(image, pe, kRelocationDirectory));
  if (!relocationsOnly)
    return error = "the resources are not at the end of the image (only base relocations may follow them)",
           false;
  if (fileEnd != image.size()) return error = "the image carries bytes after its last section", false;

  const Bytes tree = LayOutTree(resources, rsrc.virtualAddress);
  const uint32_t oldRawSize = rsrc.rawSize;
  rsrc.virtualSize = uint32_t(tree.size());
  rsrc.rawSize = AlignUp(uint32_t(tree.size()), pe.fileAlignment);
  Bytes out(image.begin(), image.begin() + rsrc.rawOffset);
  out.insert(out.end(), tree.begin(), tree.end());
  out.resize(size_t(rsrc.rawOffset) + rsrc.rawSize, 0);
  SetSection(out, rsrc);
  Section end = rsrc;
  if (!after.empty()) {
    Section moved = after[0];
    moved.virtualAddress = AlignUp(rsrc.virtualAddress + rsrc.virtualSize, pe.sectionAlignment);
    moved.rawOffset = uint32_t(out.size());
    out.insert(out.end(), image.begin() + after[0].rawOffset,
               image.begin() + after[0].rawOffset + after[0].rawSize);
    SetSection(out, moved);
    WriteLe32(&out[pe.directory + 8 * kRelocationDirectory], moved.virtualAddress);
    end = moved;
  }
  WriteLe32(&out[pe.directory + 8 * kResourceDirectory + 4], uint32_t(tree.size()));
  WriteLe32(&out[pe.optional + 56],
            AlignUp(end.virtualAddress + std::max(end.virtualSize, end.rawSize), pe.sectionAlignment));
  WriteLe32(&out[pe.optional + 8], ReadLe32(&out[pe.optional + 8]) + rsrc.rawSize - oldRawSize);
  WritePeChecksum(out.data(), out.size());
  image.swap(out);
  return true;
}
