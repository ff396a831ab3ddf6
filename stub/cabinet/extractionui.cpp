#include "extractionui.h"

ExtractionUiRecord ExtractionUi;
