// A project written as p.ini in a scratch folder and loaded, with what the
// loader said: the ground of the project reader's tests.
#pragma once
#include <string>

#include "pack_test_util.h"
#include "project.h"

namespace packtest {

struct Loaded {
  bool ok = false;
  Project project;
  Diagnostics diagnostics;
  std::string AllErrors() const {
    std::string all;
    for (const std::string& e : diagnostics.Errors()) all += e + "\n";
    return all;
  }
};

inline Loaded Load(const ProjectDir& dir, const std::string& text) {
  dir.Write("p.ini", text);
  Loaded l;
  l.ok = LoadProject(dir.File("p.ini"), l.project, l.diagnostics);
  return l;
}

}  // namespace packtest
