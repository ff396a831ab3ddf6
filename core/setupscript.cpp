#include "setupscript.h"

#include "textlines.h"

const char kReadmeTerminator[4] = "\x01\x01\x01";
const char kLicenseTerminator[4] = "\x03\x03\x03";

namespace {

// Lines of a text held in memory, cut exactly as TextLineReader cuts a file.
class MemoryLineReader {
 public:
  explicit MemoryLineReader(const std::string& text) : text_(text) {}
  bool ReadLine(std::string& line) {
    line.clear();
    if (at_ >= text_.size()) return false;
    const size_t end = text_.find_first_of("\r\n", at_);
    if (end == std::string::npos) {
      line.assign(text_, at_, std::string::npos);
      at_ = text_.size();
      return true;
    }
    line.assign(text_, at_, end - at_);
    at_ = end + 1;
    if (text_[end] == '\r' && at_ < text_.size() && text_[at_] == '\n') ++at_;
    return true;
  }

 private:
  const std::string& text_;
  size_t at_ = 0;
};

}  // namespace

bool ParseSetupScript(const std::string& bytes, SetupScript& script) {
  MemoryLineReader reader(bytes);
  return ReadSetupScriptFrom(reader, script);
}

bool ReadSetupScriptFile(const std::string& path, SetupScript& script) {
  TextLineReader reader(path);
  if (!reader.IsOpen()) return false;
  const bool read = ReadSetupScriptFrom(reader, script);
  return read && !reader.Failed();
}
