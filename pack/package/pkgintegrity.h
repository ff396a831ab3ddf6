// The builder's side of the integrity record (core/integrity.h): the CRCs
// and digests of a package's parts as they are stored, and the check of a
// finished package against its record.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "integrity.h"
#include "pkgreader.h"

// CRC-32 of `limit` bytes of a file (all of it for -1), scrambled with the
// package key on the way when `password` is given (the payload's stored
// form), and their SHA-256 into `sha256` unless it is null. False when the
// file cannot be read that far.
bool CrcOfFile(const std::string& path, int64_t limit, bool scramble, const std::string& password,
               uint32_t& crc, uint64_t& length, uint8_t* sha256 = nullptr);

// The cabinet size a cabinet's own header gives (CFHEADER cbCabinet); 0 when
// the file holds no cabinet header.
uint32_t CabinetSizeOfFile(const std::string& path);

// Compares a finished package with its record: the header and blocks 2, 3
// and 5 from the image, the follow-up volumes beside Setup.exe, and the
// payload files' CRCs gathered by a Verify walk; with `digests` (the
// version-2 entries), each volume's SHA-256 too. A volume is read only when
// the record gives a bare name that the walk went to, and only as a regular
// file, no further than the record's length: a record cannot make it read
// anything else. One line per mismatch in `problems`, none of them giving
// what was read.
void CheckPackageIntegrity(const PackageImage& image, const IntegrityRecord& record,
                           const IntegrityRecord* digests, const PayloadWalk& walk,
                           std::vector<std::string>& problems);
