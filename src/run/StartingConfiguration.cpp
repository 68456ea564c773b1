#include "run/StartingConfiguration.h"

#include "ExampleConfiguration.h"
#include "core/Configuration.h"
#include "core/ConfigurationKeys.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace soilweb {

namespace {
using Tree = boost::property_tree::ptree;
using Key = ConfigurationKeys::Key;

std::string commentOn(const Key& key) {
  std::string detail = key.unit;
  if (!key.range.empty()) detail += (detail.empty() ? "" : "; ") + key.range;
  return (key.required ? "" : "optional: ") + key.meaning + (detail.empty() ? "" : " [" + detail + "]");
}

std::string joined(const std::string& path, const std::string& name) { return path.empty() ? name : path + "." + name; }

// node (at path) with a comment before each key the table lists, and one for
// each optional key of the object it leaves out.
Tree commented(const Tree& node, const std::string& path) {
  if (node.empty()) return node;
  Tree out;
  if (node.begin()->first.empty()) {  // a list
    std::size_t index = 0;
    for (const auto& [name, child] : node) out.push_back({name, commented(child, joined(path, std::to_string(index++)))});
    return out;
  }
  for (const auto& [name, child] : node) {
    if (const Key* key = ConfigurationKeys::find(joined(path, name))) out.push_back({"//" + name, Tree(commentOn(*key))});
    out.push_back({name, commented(child, joined(path, name))});
  }
  for (const std::string& name : ConfigurationKeys::namesBelow(path)) {
    const Key* key = ConfigurationKeys::find(joined(path, name));
    if (key && !key->required && node.find(name) == node.not_found())
      out.push_back({"//" + name, Tree("not set here; " + commentOn(*key))});
  }
  return out;
}
}  // namespace

std::string StartingConfiguration::text(const std::string& layout) {
  Tree example = Configuration::parse(EXAMPLE_CONFIGURATION);
  if (layout == "tables") example.put("simulation.outputs.layout", "tables");
  return Configuration::json(commented(example, "")) + "\n";
}

void StartingConfiguration::write(const std::string& path, const std::string& layout) {
  const std::string content = text(layout);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0)
    throw Configuration::Error(errno == EEXIST ? "--init: '" + path + "' already exists; nothing was written"
                                               : "--init: cannot create '" + path + "': " + std::strerror(errno));
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string problem = std::strerror(errno);
      ::close(fd);
      ::unlink(path.c_str());
      throw Configuration::Error("--init: cannot write '" + path + "': " + problem);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    const std::string problem = std::strerror(errno);
    ::unlink(path.c_str());
    throw Configuration::Error("--init: cannot write '" + path + "': " + problem);
  }
}

}  // namespace soilweb
