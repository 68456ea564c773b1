// The configuration `soilweb --init` writes for a user to start from: the
// bundled example (or the example in the tables layout), every key preceded
// by a "//KEY" entry saying what it means, its unit and the values that make
// sense, and the optional keys the example leaves out named the same way.
// soilweb reads "//" entries as comments. Stateless.
#pragma once

#include <string>

namespace soilweb {

class StartingConfiguration {
 public:
  // layout: "daily" (the example as bundled) or "tables".
  static std::string text(const std::string& layout);
  // Writes text(layout) to path; refuses (a Configuration::Error naming the
  // file) when anything, a link included, is already there.
  static void write(const std::string& path, const std::string& layout);
};

}  // namespace soilweb
