// The JSON documents of info, list and verify (--json). Their shape is
// documented in the README and kept stable: fields may be added, none
// renamed or removed. "format" names the shape's version.
#pragma once
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "codepage.h"
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

// The signing time as osslsigncode prints it ("May  1 10:20:30 2024 GMT") in
// ISO 8601 UTC ("2024-05-01T10:20:30Z"), the form of every time in the JSON
// documents; a text of another form is returned as it is.
std::string IsoTimeOfSigningTime(const std::string& text);

// A stored text as a JSON string, converted from the package's code page so
// that the document stays UTF-8.
std::string JsonText(const std::string& stored, int codePage = kDefaultCodePage);
