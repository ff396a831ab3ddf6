// What the cabinet reader and the block decoders report: a small fixed set
// of codes, numbered as the FDI interface numbers its errors so that fdi/
// passes them on unchanged. Codes the reader never makes itself (a cabinet
// not found, a wrong volume, an abort) arrive through the VolumeChain that
// the caller supplies and travel back out the same way.
#pragma once

namespace cab {

enum class Status : int {
  kOk = 0,
  kCabinetNotFound = 1,
  kNotACabinet = 2,
  kUnknownVersion = 3,
  kCorrupt = 4,
  kAllocFail = 5,
  kBadCompressionType = 6,
  kDecodeFail = 7,
  kTargetFile = 8,
  kReserveMismatch = 9,
  kWrongCabinet = 10,
  kUserAbort = 11,
  kEof = 12,
};

}  // namespace cab
