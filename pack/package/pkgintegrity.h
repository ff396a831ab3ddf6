// The builder's side of the integrity record (core/integrity.h): the CRCs
// of a package's parts as they are stored, and the check of a finished
// package against its record.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "integrity.h"
#include "pkgreader.h"

// CRC-32 of `limit` bytes of a file (all of it for -1), scrambled with the
// package key on the way when `password` is given (the payload's stored
// form). False when the file cannot be read that far.
bool CrcOfFile(const std::string& path, int64_t limit, bool scramble, const std::string& password,
               uint32_t& crc, uint64_t& length);

// The cabinet size a cabinet's own header gives (CFHEADER cbCabinet); 0 when
// the file holds no cabinet header.
uint32_t CabinetSizeOfFile(const std::string& path);

// Compares a finished package with its record: the header and blocks 2, 3
// and 5 from the image, the follow-up volumes named in `walk` beside
// Setup.exe, and the payload files' CRCs gathered by a Verify walk. One line
// per mismatch in `problems`.
void CheckPackageIntegrity(const PackageImage& image, const IntegrityRecord& record, const PayloadWalk& walk,
                           std::vector<std::string>& problems);
