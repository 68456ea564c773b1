// Read access to one section of the parsed run_params document. Every value is
// looked up by a dotted path below the section and read either leniently (the
// leading number of the text, 0 when there is none) or strictly (the whole
// text must be a number of the type). Anything wrong with the file is raised
// as a Configuration::Error whose message names the key as the user wrote it;
// a lenient read of text that is not wholly a number keeps its value but adds
// a warning, and keys nobody looked up are warned about once reading is done.
// A Configuration is a cheap view: it refers to the tree, which its owner keeps.
#pragma once

#include <boost/property_tree/ptree.hpp>

#include <stdexcept>
#include <string>
#include <vector>

namespace soilweb {

class Configuration {
 public:
  // One line for the user, e.g. "missing key 'simulation.days'".
  class Error : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  // path: the dotted path of node in the document ("" for its root).
  explicit Configuration(const boost::property_tree::ptree& node, std::string path = "");

  // The most values (numbers, texts, lists, objects) a configuration may hold:
  // some 600 MB of tree. A run's record holds its configuration and its
  // warnings, and is read with twice as many.
  static constexpr std::size_t MOST_VALUES = 1000000;

  // Parses a JSON document; a malformed or absurdly nested one, or one of more
  // than mostValues values, raises an Error.
  static boost::property_tree::ptree parse(const std::string& text, std::size_t mostValues = MOST_VALUES);
  // A parsed document as JSON again, nested lines indented below indent.
  static std::string json(const boost::property_tree::ptree& node, const std::string& indent = "");

  bool has(const std::string& key) const;
  const boost::property_tree::ptree& child(const std::string& key) const;
  // The section below key; its errors name keys by their full path.
  Configuration section(const std::string& key) const;
  // The dotted path of key below this section, as the user would look for it.
  std::string pathOf(const std::string& key) const;

  std::string text(const std::string& key) const;
  // Text that names something (a folder, a file, a species): refused when it
  // holds a control character (NUL, tab, newline, ...), which would cut a
  // path short or forge rows in a table. aroundTrimmed: the name is trimmed of
  // surrounding white space where it is used (a species' name), so only what
  // is left is checked.
  std::string name(const std::string& key, bool aroundTrimmed = false) const;
  double real(const std::string& key) const;  // lenient, warns
  int integer(const std::string& key) const;  // lenient, warns
  int strictInt(const std::string& key) const;
  long strictLong(const std::string& key) const;
  unsigned strictUnsigned(const std::string& key) const;
  double strictReal(const std::string& key) const;

  [[noreturn]] void fail(const std::string& key, const std::string& problem) const;

  // Lenient conversions of a node's text, as strtod and strtol read it; text
  // that is not wholly a number of the type adds a warning naming path.
  static double lenientReal(const boost::property_tree::ptree& node, const std::string& path);
  static int lenientInt(const boost::property_tree::ptree& node, const std::string& path);

  // Sets key (a dotted path; array elements by index, "animals.1" or
  // "animals[1]") to value, taken as JSON when it parses as JSON, else as a
  // string. A key absent from the document is refused unless it is optional.
  static void set(boost::property_tree::ptree& root, const std::string& key, const std::string& value);

  // Warnings about the keys of root that no reading looked up (unknown keys)
  // and about keys given twice. A key that is a near miss of one soilweb
  // reads ("stopwhen") is an error instead, added to errors: the run would
  // quietly go on without what it asks for. Call after the whole document
  // has been read.
  static std::vector<std::string> unknownKeyWarnings(const boost::property_tree::ptree& root,
                                                     std::vector<std::string>& errors);

  // Whether a key's name marks it as a comment ("//..."), which no reading
  // looks up and no warning names.
  static bool isComment(const std::string& name);

  // Every key looked up since the last clear, by its full path.
  static std::vector<std::string> keysLookedUp;
  // Every warning since the last clear, one line each without prefix, e.g.
  // "'simulation.temperature' is \"twenty\"; read as 0".
  static std::vector<std::string> warnings;
  static void clearRecords();

 private:
  // "; the file has 'x.temprature': did you mean 'x.temperature'?" for a
  // missing key with a near miss beside it; "" otherwise.
  std::string nearMissOf(const std::string& key) const;

  const boost::property_tree::ptree& node;
  std::string path;
};

}  // namespace soilweb
