// SHA-256 (FIPS 180-4), portable and without third-party code, for the
// integrity record's digests of the parts of a package that a signature
// does not cover. Feed a stream in pieces through one Sha256State.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t kSha256Size = 32;

struct Sha256State {
  uint32_t h[8];
  uint64_t length;  // bytes fed so far
  uint8_t block[64];
  size_t fill;  // bytes of `block` in use
};

void Sha256Init(Sha256State& state);
void Sha256Update(Sha256State& state, const uint8_t* data, size_t size);
void Sha256Final(Sha256State& state, uint8_t digest[kSha256Size]);

void Sha256(const uint8_t* data, size_t size, uint8_t digest[kSha256Size]);
