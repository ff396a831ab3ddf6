#include "volumeorder.h"

#include "pathops.h"
#include "volumeset.h"

void StartVolumeSet(const FDICABINETINFO& first) {
  VolumeSet.SetId = first.setID;
  VolumeSet.LastIndex = first.iCabinet;
  VolumeSet.LocatedNames.clear();
}

bool AcceptNextVolume(const std::string& name, const FDICABINETINFO& info) {
  const std::string key = UpperCaseAscii(name);
  for (const std::string& located : VolumeSet.LocatedNames) {
    if (located == key) return false;
  }
  if (info.setID != VolumeSet.SetId || info.iCabinet != VolumeSet.LastIndex + 1) return false;
  VolumeSet.LastIndex = info.iCabinet;
  VolumeSet.LocatedNames.push_back(key);
  return true;
}
