#include "setupparams.h"

SetupParamsRecord& SetupParams = *new SetupParamsRecord;
LangTable& Lang = *new LangTable;
