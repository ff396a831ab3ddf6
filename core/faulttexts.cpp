// The words the builder's reports use for the core's fault and part codes.
// The stub shows none of them; in a file of their own, they stay out of it.
#include "integrity.h"
#include "package.h"

const char* PackageLayoutFaultText(PackageLayoutFault fault) {
  switch (fault) {
    case PackageLayoutFault::None: return "the header fits the file";
    case PackageLayoutFault::NoHeader: return "PackageBase does not leave room for the header in the file";
    case PackageLayoutFault::NegativeSize: return "a block size in the header is negative";
    case PackageLayoutFault::NoLanguageText: return "the header gives the language text no bytes";
    case PackageLayoutFault::NoInfoCabinet: return "the header's InfoCabSize is too small for a cabinet";
    case PackageLayoutFault::PastEnd: return "the block sizes in the header run past the end of the file";
    case PackageLayoutFault::NoPayload: return "the header leaves no room for the payload cabinet";
    case PackageLayoutFault::TooLarge: return "the blocks in the header end beyond 2 GiB";
  }
  return "unknown fault";
}

const char* IntegrityKindText(IntegrityKind kind) {
  switch (kind) {
    case IntegrityKind::Header: return "header";
    case IntegrityKind::LangText: return "language text";
    case IntegrityKind::CabLib: return "cabinet library";
    case IntegrityKind::Payload: return "payload cabinet";
    case IntegrityKind::Volume: return "volume";
    case IntegrityKind::File: return "file";
  }
  return "unknown part";
}
