// The state of the cabinet set that CabCopy runs over: the one record shared
// by CabCopy, the notification handler and the next-volume prompt. Only the
// thread that runs CabCopy uses it. Between CabCopy calls State is None.
//
// CabCopy runs FDICopy once per volume in which files begin. A follow-up run
// starts Pending; the handler makes it None at the run's first file, and
// LocateNextCabinet makes it Located whenever FDI needs (or a cabinet
// announces) a further volume. A run that ends still Pending asked for none.
// Lives in shared/ with the stub's other records: cabinet/ runs the set and
// wizard/'s next-volume prompt shows and edits where the next volume lies.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

// FDI's cabinet-path buffer, terminating zero included: a longer folder
// cannot be handed back to FDI.
constexpr size_t kCabPathBuffer = 256;

enum class NextVolumeState {
  None,     // no further volume to run
  Pending,  // a follow-up run is under way and has not asked for another volume yet
  Located,  // NextCabinet is the full path of the next volume, checked to be a cabinet
};

struct VolumeSetRecord {
  NextVolumeState State = NextVolumeState::None;
  std::string NextCabinet;  // full path of the next volume while Located

  // What the next-volume prompt shows, and the location it hands back.
  std::string NextCabinetName;
  std::string NextDiskName;
  std::string NextCabinetPath;

  // The volume that the cabinet opened last names as its successor (empty for
  // the last one of a set), with its disk name and the folder FDI read from.
  std::string AnnouncedCabinet;
  std::string AnnouncedDisk;
  std::string AnnouncedFolder;

  // How often FDI has refused the volume at one location since the last file
  // began: the same file would be found again and again without a prompt.
  int RefusedVolumes = 0;

  // The set is followed only forward: each located volume must carry the
  // first cabinet's set id and the index after the last one, under a name
  // not located before (upper case), so that no run can go round in a cycle.
  unsigned SetId = 0;
  int LastIndex = 0;
  std::vector<std::string> LocatedNames;
};

extern VolumeSetRecord VolumeSet;
