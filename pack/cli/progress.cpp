#include "progress.h"

std::string ByteCountText(uint64_t bytes) {
  static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = double(bytes) / 1024;
  int unit = 0;
  while (value >= 1024 && unit < 3) value /= 1024, ++unit;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

namespace {

std::string DurationText(double seconds) {
  const uint64_t s = uint64_t(seconds + 0.5);
  char text[32];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%u:%02u:%02u", unsigned(s / 3600), unsigned(s / 60 % 60),
                  unsigned(s % 60));
  else
    std::snprintf(text, sizeof text, "%u:%02u", unsigned(s / 60), unsigned(s % 60));
  return text;
}

}  // namespace

std::string FormatProgressLine(const ProgressFigures& f) {
  const unsigned percent = f.totalBytes              ? unsigned(f.bytes * 100 / f.totalBytes)
                           : f.files >= f.totalFiles ? 100
                                                     : 0;
  std::string line = std::to_string(f.files) + "/" + std::to_string(f.totalFiles) + " files, " +
                     ByteCountText(f.bytes) + " of " + ByteCountText(f.totalBytes) + " (" +
                     std::to_string(percent) + "%)";
  if (f.seconds > 0 && f.bytes > 0) {
    const double rate = f.bytes / f.seconds;
    line += ", " + ByteCountText(uint64_t(rate)) + "/s";
    if (f.bytes < f.totalBytes) line += ", " + DurationText(double(f.totalBytes - f.bytes) / rate) + " left";
  }
  if (f.threads > 0) line += ", " + std::to_string(f.threads) + (f.threads == 1 ? " thread" : " threads");
  return line;
}

ProgressMeter::ProgressMeter(std::FILE* stream, bool inPlace, uint64_t totalFiles, uint64_t totalBytes,
                             int threads)
    : stream_(stream), inPlace_(inPlace), start_(std::chrono::steady_clock::now()), lastDraw_(start_) {
  figures_.totalFiles = totalFiles;
  figures_.totalBytes = totalBytes;
  figures_.threads = threads;
}

void ProgressMeter::Update(uint64_t files, uint64_t bytes) {
  figures_.files = files;
  figures_.bytes = bytes;
  // A terminal is redrawn ten times a second; a log gets a line a second.
  const auto now = std::chrono::steady_clock::now();
  if (now - lastDraw_ < std::chrono::milliseconds(inPlace_ ? 100 : 1000)) return;
  lastDraw_ = now;
  Draw();
}

void ProgressMeter::Finish() {
  Draw();
  if (inPlace_) std::fputc('\n', stream_);
  std::fflush(stream_);
}

void ProgressMeter::Draw() {
  figures_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const std::string line = FormatProgressLine(figures_);
  // "\r" and erase-to-end-of-line: the new line replaces the old one even
  // when it is shorter.
  if (inPlace_)
    std::fprintf(stream_, "\r%s\x1b[K", line.c_str());
  else
    std::fprintf(stream_, "%s\n", line.c_str());
  std::fflush(stream_);
}
