#include "volumeset.h"

VolumeSetRecord VolumeSet;
