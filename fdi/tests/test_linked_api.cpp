// The host tests call the library they are linked with.
#include "test_support.h"

namespace fdt {

FdiApi linkedApi() { return FdiApi{FDICreate, FDIIsCabinet, FDICopy, FDIDestroy}; }

}  // namespace fdt
