// The subcommands of veltra-pack. Each takes its parsed options (cmdline.cpp
// fills them), prints to the given streams and returns the process exit
// code: 0 done, 1 failed, 2 wrong usage.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "builder.h"

enum class ProgressMode { Auto, On, Off };  // Auto: on when stderr is a terminal

struct BuildOptions {
  std::string project;
  Defines defines;  // -D NAME=VALUE
  BuildOverrides overrides;
  ProgressMode progress = ProgressMode::Auto;
};

struct ReadOptions {
  std::string setup;
  bool hasPassword = false;
  std::string password;
  std::string to = ".";    // extract's target folder
  bool overwrite = false;  // extract: replace files that are there
  std::string ca;          // verify: the authority the signature must chain to
  bool json = false;
};

struct AssembleOptions {
  std::string stub, info, payload, out, lang, cablib, password;
};

int BuildCommand(const BuildOptions& options, std::FILE* out, std::FILE* err);
int InfoCommand(const ReadOptions& options, std::FILE* out, std::FILE* err);
int ListCommand(const ReadOptions& options, std::FILE* out, std::FILE* err);
int ExtractCommand(const ReadOptions& options, std::FILE* out, std::FILE* err);
int VerifyCommand(const ReadOptions& options, std::FILE* out, std::FILE* err);
int AssembleCommand(const AssembleOptions& options, std::FILE* out, std::FILE* err);

// What the package password is, wherever it is offered.
constexpr const char* kPasswordScramblesNote =
    "the password scrambles the package, it does not encrypt it: anyone who has the package can read "
    "the payload";

// A text as one printable line: control bytes and bytes above 0x7E become
// \xNN escapes, so that a script line shows what it holds.
std::string PrintableText(const std::string& text);

// A DOS date and time as "YYYY-MM-DD hh:mm:ss".
std::string DosStampText(uint16_t date, uint16_t time);
// Cabinet attributes as four letters "RHSA", "-" where a bit is clear.
std::string AttributeText(uint16_t attributes);
