// The subcommands of veltra-pack. Each takes the arguments after its name,
// prints to the given streams and returns the process exit code: 0 done,
// 1 failed, 2 wrong usage.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

using Arguments = std::vector<std::string>;

int BuildCommand(const Arguments& args, std::FILE* out, std::FILE* err);
int InfoCommand(const Arguments& args, std::FILE* out, std::FILE* err);
int ListCommand(const Arguments& args, std::FILE* out, std::FILE* err);
int ExtractCommand(const Arguments& args, std::FILE* out, std::FILE* err);
int VerifyCommand(const Arguments& args, std::FILE* out, std::FILE* err);

// A text as one printable line: control bytes and bytes above 0x7E become
// \xNN escapes, so that a script line shows what it holds.
std::string PrintableText(const std::string& text);

// A DOS date and time as "YYYY-MM-DD hh:mm:ss".
std::string DosStampText(uint16_t date, uint16_t time);
// Cabinet attributes as four letters "RHSA", "-" where a bit is clear.
std::string AttributeText(uint16_t attributes);
