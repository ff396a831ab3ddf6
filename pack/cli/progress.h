// The build's progress line on standard error: files and bytes done of the
// total, the rate and the time left, redrawn in place on a terminal.
#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

struct ProgressFigures {
  uint64_t files = 0, totalFiles = 0;
  uint64_t bytes = 0, totalBytes = 0;
  double seconds = 0;  // since the start
  int threads = 0;     // shown when not 0
};

// One line, like "12/340 files, 45.1 MiB of 200.0 MiB (22%), 12.3 MiB/s, 0:13 left".
// The rate and the time left are left out until there is a rate to go by.
std::string FormatProgressLine(const ProgressFigures& figures);

// A byte count with a binary unit: "512 B", "1.5 KiB", "200.0 MiB".
std::string ByteCountText(uint64_t bytes);

class ProgressMeter {
 public:
  // `inPlace`: a terminal, where each line overwrites the one before;
  // elsewhere whole lines are written, fewer of them.
  ProgressMeter(std::FILE* stream, bool inPlace, uint64_t totalFiles, uint64_t totalBytes, int threads = 0);
  void Update(uint64_t files, uint64_t bytes);
  // The last figures on a line of their own.
  void Finish();

 private:
  void Draw();

  std::FILE* stream_;
  bool inPlace_;
  ProgressFigures figures_;
  std::chrono::steady_clock::time_point start_, lastDraw_;
};
