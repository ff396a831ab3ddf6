// Makes the stub's copy in Setup.exe the author's own: the program's icon
// group replaced by the author's icon, a version-information resource, and
// a manifest that names the supported systems, DPI awareness and, when
// asked, the execution level.
//
// Without any brand key the stub is left exactly as built, so a package
// without them is the same file as before these keys existed. Its manifest
// names no execution level, and so neither does a branded one unless
// ExecutionLevel is given: Windows' installer detection then still elevates
// a "Setup.exe" as it always has, which the packages that install into
// Program Files rely on, while a package meant for the user's own folders
// keeps running without a prompt. Naming a level switches installer
// detection (and file virtualisation) off, so it is the author's choice.
#pragma once
#include <string>

#include "assemble.h"
#include "brandsettings.h"
#include "project.h"

// The parts of the brand written into the stub, as the resources hold them.
struct BrandResources {
  BrandSettings settings;  // after the defaults: ProductName, Description and the versions filled
  std::string appName;     // UTF-8
};

// The manifest of `stubManifest` (the stub's own) with the supported
// systems, DPI awareness and `executionLevel` (none when empty) added;
// false when the stub's manifest already says any of it, or is no manifest.
bool BrandManifest(const std::string& stubManifest, const std::string& executionLevel, std::string& manifest,
                   std::string& error);

// The VS_VERSIONINFO resource of the settings (after their defaults).
std::vector<uint8_t> VersionResource(const BrandSettings& settings);

// The settings with their defaults: ProductName from AppName, Description
// "AppName Setup", each version from the other.
BrandSettings BrandDefaults(const BrandSettings& settings, const std::string& appNameUtf8);

// Rewrites `stub` (a stub as built) with the brand; false with `error` set.
bool BrandStub(const BrandSettings& settings, std::vector<uint8_t>& stub, std::string& error);

// The build's step: the project's brand overlaid by the command line's
// (`given`), each value checked, the stub's copy in `parts` rewritten and
// its checksum asked for over the whole Setup.exe. Nothing happens when no
// brand key is given. Faults are reported at the key's line.
bool BrandSetupStub(const Project& project, const BrandSettings& given, PackageParts& parts, Diagnostics& d);
