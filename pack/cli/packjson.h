// The JSON documents of info, list and verify (--json). Their shape is
// documented in the README and kept stable: fields may be added, none
// renamed or removed. "format" names the shape's version.
#pragma once
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "pkgreader.h"
#include "signing.h"

constexpr const char* kJsonFormat = "veltra-pack/1";

// `infoFiles` and `walk` are null when the package is protected by a
// password that was not given: the setup script and the files are then left
// out (null).
nlohmann::json InfoJson(const PackageImage& image, const std::map<std::string, std::string>* infoFiles,
                        const PayloadWalk* walk, const std::string& recordSummary,
                        const SignatureFacts& signature);
nlohmann::json ListJson(const PackageImage& image, const PayloadWalk& walk);
nlohmann::json VerifyJson(const PackageImage& image, const PayloadWalk& walk,
                          const std::vector<std::string>& problems, const std::string& recordNote,
                          const SignatureFacts& signature);

// A stored single-byte text as a JSON string: bytes above 0x7F are taken as
// Latin-1 (the Western code page's letters), so the document stays UTF-8.
std::string JsonText(const std::string& stored);
