#include "textlines.h"

TextLineReader::TextLineReader(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {
  failed_ = file_ == nullptr;
}

TextLineReader::~TextLineReader() { Close(); }

void TextLineReader::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

bool TextLineReader::ReadLine(std::string& line) {
  line.clear();
  if (!file_) return false;
  int c = std::fgetc(file_);
  if (c == EOF) {
    if (std::ferror(file_)) failed_ = true;
    return false;
  }
  while (c != EOF && c != '\n' && c != '\r') {
    line.push_back(static_cast<char>(c));
    c = std::fgetc(file_);
  }
  if (c == '\r') {
    const int next = std::fgetc(file_);
    if (next != '\n' && next != EOF) std::ungetc(next, file_);
  }
  if (c == EOF && std::ferror(file_)) {
    failed_ = true;
    return false;
  }
  return true;
}
