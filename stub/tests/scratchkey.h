// A registry key that exists only for one test: created below HKCU\Software
// (or another root) and removed with everything in it at the end. By default
// it is made in the view that a 32-bit program sees, the one the lookups read
// first; `view` 0 makes it in this program's own view.
#pragma once
#include <windows.h>

#include <string>

class ScratchKey {
 public:
  explicit ScratchKey(HKEY root = HKEY_CURRENT_USER, std::string parent = "Software",
                      std::string name = "VeltraTest", REGSAM view = KEY_WOW64_32KEY)
      : root_(root), parent_(std::move(parent)), name_(std::move(name)), view_(view) {
    RemoveTree();
    ok_ = RegCreateKeyExA(root_, Path().c_str(), 0, nullptr, 0, Access(), nullptr, &key_, nullptr) ==
          ERROR_SUCCESS;
  }
  ~ScratchKey() {
    if (ok_) RegCloseKey(key_);
    RemoveTree();
  }
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

  bool ok() const { return ok_; }
  HKEY key() const { return key_; }
  std::string Path() const { return parent_.empty() ? name_ : parent_ + "\\" + name_; }

  // `withNul` false stores the text without its terminator, as careless
  // writers do.
  bool SetText(const std::string& value, const std::string& text, DWORD type = REG_SZ, bool withNul = true) {
    return Set(value, type, text.c_str(), text.size() + (withNul ? 1 : 0));
  }
  bool SetDword(const std::string& value, DWORD number) {
    return Set(value, REG_DWORD, &number, sizeof number);
  }
  bool SetBinary(const std::string& value, const std::string& bytes) {
    return Set(value, REG_BINARY, bytes.data(), bytes.size());
  }
  // A subkey's default value.
  bool SetDefault(const std::string& subkey, const std::string& text) {
    HKEY sub;
    if (RegCreateKeyExA(key_, subkey.c_str(), 0, nullptr, 0, Access(), nullptr, &sub, nullptr) !=
        ERROR_SUCCESS)
      return false;
    const bool set = RegSetValueExA(sub, "", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                    static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
    RegCloseKey(sub);
    return set;
  }

 private:
  REGSAM Access() const { return KEY_ALL_ACCESS | view_; }

  bool Set(const std::string& value, DWORD type, const void* data, size_t size) {
    return ok_ && RegSetValueExA(key_, value.c_str(), 0, type, static_cast<const BYTE*>(data),
                                 static_cast<DWORD>(size)) == ERROR_SUCCESS;
  }

  void RemoveTree() {
    HKEY parent;
    if (RegOpenKeyExA(root_, parent_.c_str(), 0, Access(), &parent) != ERROR_SUCCESS) return;
    RegDeleteTreeA(parent, name_.c_str());
    RegCloseKey(parent);
  }

  HKEY root_;
  std::string parent_;
  std::string name_;
  REGSAM view_;
  HKEY key_ = nullptr;
  bool ok_ = false;
};
