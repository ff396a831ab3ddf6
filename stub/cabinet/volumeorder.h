// The order in which a cabinet set is followed (VolumeSet's SetId,
// LastIndex and LocatedNames).
#pragma once
#include <string>

#include "fdi_interface.h"

// Starts a set at its first cabinet.
void StartVolumeSet(const FDICABINETINFO& first);

// True when the volume `name`, described by `info`, comes next in the set;
// it is then taken as the set's last volume.
bool AcceptNextVolume(const std::string& name, const FDICABINETINFO& info);
