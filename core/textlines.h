// Line-by-line reading of the package's text files (the language text and the
// setup script). A line ends at CR LF; a lone LF or a lone CR ends it too, so
// that files saved by other editors still read as the author sees them. Every
// other byte, 0x1A included, is ordinary text.
#pragma once
#include <cstdio>
#include <string>

class TextLineReader {
 public:
  explicit TextLineReader(const std::string& path);
  ~TextLineReader();
  TextLineReader(const TextLineReader&) = delete;
  TextLineReader& operator=(const TextLineReader&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // Reads the next line without its line end. False at the end of the file
  // (the line is then empty) or on a read error.
  bool ReadLine(std::string& line);
  // A read error happened (as opposed to the plain end of the file).
  bool Failed() const { return failed_; }
  void Close();

 private:
  std::FILE* file_ = nullptr;
  bool failed_ = false;
};
