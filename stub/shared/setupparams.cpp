// Lives in shared/ with setupparams.h: the stub's records that every other part uses.
#include "setupparams.h"

SetupParamsRecord& SetupParams = *new SetupParamsRecord;
LangTable& Lang = *new LangTable;
