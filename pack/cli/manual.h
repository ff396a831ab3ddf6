// The manual page veltra-pack(1) and the bash completion, written from the
// command line itself and the table of project keys, so that neither is a
// second copy that could drift from what the builder accepts. The build runs
// `veltra-pack help --man` and `help --completion bash` to make them.
#pragma once
#include <string>

namespace CLI {
class App;
}

// The help topic that prints the project file's keys, beside the commands.
extern const char kKeysHelpTopic[];

// The page in man(7) markup.
std::string ManualPage(const CLI::App& app);

// A bash script that registers completion for veltra-pack: commands, their
// options, file names for option values and arguments.
std::string BashCompletion(const CLI::App& app);
