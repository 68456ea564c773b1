#include "core/Configuration.h"

#include "core/ConfigurationKeys.h"
#include "core/GlobalFunctions.h"

#include <boost/property_tree/json_parser.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <utility>

namespace soilweb {

Configuration::Configuration(const boost::property_tree::ptree& node, std::string path)
    : node(node), path(std::move(path)) {}

namespace {
// The JSON reader recurses once per level of nesting; refuse what would
// exhaust the stack long before it could be a configuration.
const int MAX_NESTING = 64;

// The shape of a document before it is parsed: how deep it nests, and about
// how many values it holds (every object and list, and one more value after
// each comma), which is what its tree costs in memory.
struct Shape {
  int deepest = 0;
  std::size_t values = 1;
};

Shape shapeOf(const std::string& text) {
  Shape shape;
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      shape.deepest = std::max(shape.deepest, ++depth);
      ++shape.values;
    } else if (c == '}' || c == ']') {
      --depth;
    } else if (c == ',') {
      ++shape.values;
    }
  }
  return shape;
}
}  // namespace

boost::property_tree::ptree Configuration::parse(const std::string& text, std::size_t mostValues) {
  const Shape shape = shapeOf(text);
  if (shape.deepest > MAX_NESTING)
    throw Error("malformed JSON: nested more than " + std::to_string(MAX_NESTING) + " levels deep");
  // The file's size is capped, but a tree costs some 600 bytes a value: a
  // list of millions of numbers would take gigabytes and minutes to read.
  if (shape.values > mostValues)
    throw Error("the document holds about " + std::to_string(shape.values) + " values, more than the " +
                std::to_string(mostValues) + " soilweb reads");
  std::istringstream in(text);
  boost::property_tree::ptree tree;
  try {
    boost::property_tree::read_json(in, tree);
  } catch (const boost::property_tree::json_parser_error& e) {
    throw Error("malformed JSON at line " + std::to_string(e.line()) + ": " + e.message());
  }
  return tree;
}

namespace {
// A JSON number as the grammar has it: no leading zeros, no '+', no bare '.'.
bool isJsonNumber(const std::string& t) {
  static const std::regex number(R"(-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)");
  return std::regex_match(t, number);
}
}  // namespace

// The reader keeps every value as text, so numbers and the literals are
// written bare and everything else as a string; soilweb reads either form
// alike, so what is written can be run again as it stands.
std::string Configuration::json(const boost::property_tree::ptree& node, const std::string& indent) {
  if (node.empty()) {
    const std::string& t = node.data();
    return isJsonNumber(t) || t == "true" || t == "false" || t == "null" ? t : jsonQuoted(t);
  }
  const bool array = node.begin()->first.empty();
  std::string out = array ? "[" : "{";
  const std::string inner = indent + "  ";
  bool first = true;
  for (const auto& [name, child] : node) {
    out += first ? "\n" : ",\n";
    first = false;
    out += inner;
    if (!array) out += jsonQuoted(name) + ": ";
    out += json(child, inner);
  }
  return out + "\n" + indent + (array ? "]" : "}");
}

std::string Configuration::pathOf(const std::string& key) const { return path.empty() ? key : path + "." + key; }

std::vector<std::string> Configuration::keysLookedUp;
std::vector<std::string> Configuration::warnings;

void Configuration::clearRecords() {
  keysLookedUp.clear();
  warnings.clear();
}

bool Configuration::has(const std::string& key) const {
  keysLookedUp.push_back(pathOf(key));
  return node.get_child_optional(key).has_value();
}

const boost::property_tree::ptree& Configuration::child(const std::string& key) const {
  keysLookedUp.push_back(pathOf(key));
  auto found = node.get_child_optional(key);
  if (!found) throw Error("missing key '" + pathOf(key) + "'" + nearMissOf(key));
  return *found;
}

std::string Configuration::nearMissOf(const std::string& key) const {
  // Walk to the first part of key the file lacks; a name beside it that
  // soilweb does not read and that is a slip away from it is the likely typo.
  const boost::property_tree::ptree* at = &node;
  std::string parent = path;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = key.find('.', start);
    const std::string part = key.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    const auto next = at->find(part);
    if (next == at->not_found()) {
      const auto known = ConfigurationKeys::namesBelow(parent);
      std::vector<std::string> strangers;
      for (const auto& [name, child] : *at)
        if (std::find(known.begin(), known.end(), name) == known.end()) strangers.push_back(name);
      const std::string likely = ConfigurationKeys::likeliest(part, strangers);
      if (likely.empty()) return "";
      const std::string written = parent.empty() ? likely : parent + "." + likely;
      return "; the file has '" + written + "': did you mean '" + (parent.empty() ? part : parent + "." + part) +
             "'?";
    }
    if (dot == std::string::npos) return "";
    at = &next->second;
    parent += (parent.empty() ? "" : ".") + part;
    start = dot + 1;
  }
}

Configuration Configuration::section(const std::string& key) const { return Configuration(child(key), pathOf(key)); }

void Configuration::fail(const std::string& key, const std::string& problem) const {
  throw Error("'" + pathOf(key) + "' " + problem);
}

std::string Configuration::text(const std::string& key) const { return child(key).data(); }

namespace {
// The first control character of text (C0, DEL, or C1 as UTF-8): its code and
// its position in bytes from 1; code -1 when there is none.
std::pair<int, std::size_t> firstControl(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f) return {c, i + 1};
    if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9f)
      return {static_cast<unsigned char>(text[i + 1]), i + 1};
  }
  return {-1, 0};
}

std::string codePoint(int code) {
  const char* const digits = "0123456789ABCDEF";
  std::string text = "U+00";
  text += digits[(code >> 4) & 15];
  text += digits[code & 15];
  return text;
}
}  // namespace

std::string Configuration::name(const std::string& key, bool aroundTrimmed) const {
  std::string value = text(key);
  const std::size_t begin = aroundTrimmed ? value.find_first_not_of(" \t\n\v\f\r") : 0;
  const std::size_t end = aroundTrimmed ? value.find_last_not_of(" \t\n\v\f\r") + 1 : value.size();
  const std::string checked = begin == std::string::npos ? "" : value.substr(begin, end - begin);
  if (const auto [code, position] = firstControl(checked); code >= 0)
    fail(key, "holds a control character (" + codePoint(code) + ") at position " +
                  std::to_string(position + (begin == std::string::npos ? 0 : begin)) +
                  "; names may not hold NUL, tabs, newlines or other control characters");
  return value;
}

namespace {
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The text without surrounding white space; strict reads accept nothing else.
std::string trimmed(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool isDecimalInteger(const std::string& t, bool allowSign) {
  std::size_t i = 0;
  if (allowSign && i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
  if (i == t.size()) return false;
  for (; i < t.size(); ++i)
    if (t[i] < '0' || t[i] > '9') return false;
  return true;
}

// A finite real in decimal notation, and nothing else.
bool isWhollyReal(const std::string& text) {
  const std::string t = trimmed(text);
  if (t.empty() || t.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
  char* end = nullptr;
  const double value = std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size() && std::isfinite(value);
}

bool isWhollyInt(const std::string& text) {
  const std::string t = trimmed(text);
  if (!isDecimalInteger(t, true)) return false;
  errno = 0;
  const long value = std::strtol(t.c_str(), nullptr, 10);
  return errno != ERANGE && value >= INT_MIN && value <= INT_MAX;
}

// The shortest text that reads back as x.
std::string shortest(double x) {
  char digits[32];
  return std::string(digits, std::to_chars(digits, digits + sizeof digits, x).ptr);
}

void warnMisread(const boost::property_tree::ptree& node, const std::string& path, const std::string& value) {
  const std::string what = node.empty() ? "\"" + node.data() + "\"" : std::string("a JSON object or array");
  Configuration::warnings.push_back("'" + path + "' is " + what + "; read as " + value);
}
}  // namespace

double Configuration::lenientReal(const boost::property_tree::ptree& node, const std::string& path) {
  const double value = std::strtod(node.data().c_str(), nullptr);
  if (!node.empty() || !isWhollyReal(node.data())) warnMisread(node, path, shortest(value));
  return value;
}

int Configuration::lenientInt(const boost::property_tree::ptree& node, const std::string& path) {
  // A number written whole that does not fit is an error, not a wrapped value.
  const std::string t = trimmed(node.data());
  if (node.empty() && (isDecimalInteger(t, true) || isWhollyReal(t))) {
    const double written = std::strtod(t.c_str(), nullptr);
    if (written < INT_MIN || written > INT_MAX)
      throw Error("'" + path + "' is out of range: " + t + " does not fit a whole number from " +
                  std::to_string(INT_MIN) + " to " + std::to_string(INT_MAX));
  }
  const int value = static_cast<int>(std::strtol(node.data().c_str(), nullptr, 10));
  if (!node.empty() || !isWhollyInt(node.data())) warnMisread(node, path, std::to_string(value));
  return value;
}

double Configuration::real(const std::string& key) const { return lenientReal(child(key), pathOf(key)); }

int Configuration::integer(const std::string& key) const { return lenientInt(child(key), pathOf(key)); }

long Configuration::strictLong(const std::string& key) const {
  const std::string raw = text(key);
  const std::string t = trimmed(raw);
  if (!isDecimalInteger(t, true)) fail(key, "must be a whole number, got '" + raw + "'");
  errno = 0;
  const long value = std::strtol(t.c_str(), nullptr, 10);
  if (errno == ERANGE) fail(key, "is out of range, got '" + raw + "'");
  return value;
}

int Configuration::strictInt(const std::string& key) const {
  const long value = strictLong(key);
  if (value < INT_MIN || value > INT_MAX) fail(key, "is out of range, got '" + text(key) + "'");
  return static_cast<int>(value);
}

unsigned Configuration::strictUnsigned(const std::string& key) const {
  const std::string raw = text(key);
  const std::string t = trimmed(raw);
  if (!isDecimalInteger(t, false) && !(t.size() > 1 && t[0] == '+' && isDecimalInteger(t.substr(1), false)))
    fail(key, "must be a whole number of at least 0, got '" + raw + "'");
  errno = 0;
  const unsigned long value = std::strtoul(t.c_str(), nullptr, 10);
  if (errno == ERANGE || value > UINT_MAX) fail(key, "is out of range, got '" + raw + "'");
  return static_cast<unsigned>(value);
}

double Configuration::strictReal(const std::string& key) const {
  const std::string raw = text(key);
  const std::string t = trimmed(raw);
  // Decimal notation only: no hexadecimal, no inf or nan words.
  const bool allowed = !t.empty() && t.find_first_not_of("0123456789+-.eE") == std::string::npos;
  char* end = nullptr;
  errno = 0;
  const double value = allowed ? std::strtod(t.c_str(), &end) : 0.0;
  if (!allowed || end != t.c_str() + t.size()) fail(key, "must be a number, got '" + raw + "'");
  if (errno == ERANGE && std::isinf(value)) fail(key, "is out of range, got '" + raw + "'");
  return value;
}

// ---- Setting keys from the command line and finding unknown ones -------------

namespace {
using Tree = boost::property_tree::ptree;

// A node whose children are all unnamed is a JSON array (an empty node is a value).
bool isArray(const Tree& node) {
  if (node.empty()) return false;
  for (const auto& child : node)
    if (!child.first.empty()) return false;
  return true;
}

// "animals[1].x" and "animals.1.x" alike, as segments.
std::vector<std::string> segmentsOf(const std::string& key) {
  std::string dotted;
  for (char c : key) {
    if (c == '[')
      dotted += '.';
    else if (c != ']')
      dotted += c;
  }
  std::vector<std::string> segments;
  std::size_t start = 0;
  for (std::size_t dot; (dot = dotted.find('.', start)) != std::string::npos; start = dot + 1)
    segments.push_back(dotted.substr(start, dot - start));
  segments.push_back(dotted.substr(start));
  return segments;
}

// The value of a --set: JSON when it parses as JSON, else the text itself.
Tree valueOf(const std::string& value) {
  try {
    Tree wrapped = Configuration::parse("{\"v\": " + value + "}");
    return wrapped.get_child("v");
  } catch (const Configuration::Error&) {
    return Tree(value);
  }
}
// "nan", "inf", "infinity", with a sign or not, in any case.
bool namesNonFinite(std::string t) {
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) t.erase(0, 1);
  for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return t == "nan" || t == "inf" || t == "infinity";
}

// The value of a --set for key: a key read as a number takes only a number,
// whole ("2o0" is not read as 2, as it would be in the file). A non-finite
// word goes in as the text it is, to be read (and warned about) as the same
// text in the file would be.
Tree checkedValue(const std::string& key, const std::string& value) {
  Tree parsed = valueOf(value);
  const std::string type = ConfigurationKeys::typeOf(key);
  const bool whole = type == "lenient integer" || type == "strict integer";
  const bool real = type == "lenient real" || type == "strict real";
  if (!whole && !real) return parsed;
  const std::string t = trimmed(parsed.data());
  if (parsed.empty() && namesNonFinite(t)) return parsed;
  if (!parsed.empty() || (whole ? !isDecimalInteger(t, true) : !isWhollyReal(t)))
    throw Configuration::Error("--set " + key + "=" + value + ": the key takes " +
                               (whole ? "a whole number" : "a number") + ", got '" + value + "'");
  return parsed;
}
}  // namespace

void Configuration::set(Tree& root, const std::string& key, const std::string& value) {
  const auto segments = segmentsOf(key);
  Tree* node = &root;
  std::string reached;  // the path walked so far, for messages
  for (std::size_t at = 0; at < segments.size(); ++at) {
    const std::string& segment = segments[at];
    if (segment.empty()) throw Error("--set " + key + ": the key has an empty part");
    Tree* next = nullptr;
    if (isArray(*node)) {
      if (!isDecimalInteger(segment, false))
        throw Error("--set " + key + ": '" + reached + "' is a list; give an element's index, not '" + segment + "'");
      const std::size_t index = std::stoul(segment);
      if (index >= node->size())
        throw Error("--set " + key + ": '" + reached + "' has " + std::to_string(node->size()) +
                    " elements (indices from 0)");
      next = &std::next(node->begin(), static_cast<long>(index))->second;
    } else if (auto found = node->find(segment); found != node->not_found()) {
      next = &found->second;
    }
    const std::string parent = reached;
    reached += (reached.empty() ? "" : ".") + segment;
    if (!next) {
      if (!ConfigurationKeys::isOptional(key)) {
        std::vector<std::string> present;
        for (const auto& [name, child] : *node) present.push_back(name);
        const std::string hint = ConfigurationKeys::didYouMean(parent, segment, present);
        throw Error("--set " + key + ": no such key in the configuration" + (hint.empty() ? "" : "; " + hint));
      }
      // Added below the node reached, which may be an element of a list (a species' optional key).
      std::string rest = segment;
      for (std::size_t k = at + 1; k < segments.size(); ++k) rest += "." + segments[k];
      node->put_child(Tree::path_type(rest, '.'), checkedValue(key, value));
      return;
    }
    node = next;
  }
  *node = checkedValue(key, value);
}

bool Configuration::isComment(const std::string& name) { return name.rfind("//", 0) == 0; }

namespace {
// Walks node (at path), adding a warning for every key no reading looked up.
void findUnknownKeys(const Tree& node, const std::string& path, const std::vector<std::string>& looked,
                     std::vector<std::string>& found, std::vector<std::string>& nearMisses) {
  auto lookedUp = [&](const std::string& p) { return std::find(looked.begin(), looked.end(), p) != looked.end(); };
  auto below = [&](const std::string& p) {
    for (const auto& key : looked)
      if (key.size() > p.size() && key.compare(0, p.size(), p) == 0 && (key[p.size()] == '.' || key[p.size()] == '['))
        return true;
    return false;
  };
  std::vector<std::string> names;
  std::size_t index = 0;
  for (const auto& [name, child] : node) {
    const std::string childPath =
        name.empty() ? path + "[" + std::to_string(index++) + "]" : (path.empty() ? name : path + "." + name);
    if (Configuration::isComment(name)) continue;
    if (!name.empty()) {
      if (std::find(names.begin(), names.end(), name) != names.end()) {
        found.push_back("key '" + childPath + "' is given twice (the first is used)");
        continue;
      }
      names.push_back(name);
    }
    if (below(childPath))
      findUnknownKeys(child, childPath, looked, found, nearMisses);
    else if (!lookedUp(childPath)) {
      const std::string hint = ConfigurationKeys::didYouMean(path, name, ConfigurationKeys::namesBelow(path));
      if (hint.empty())
        found.push_back("unknown key '" + childPath + "' (ignored)");
      else
        nearMisses.push_back("unknown key '" + childPath + "'; " + hint);
    }
  }
}
}  // namespace

std::vector<std::string> Configuration::unknownKeyWarnings(const Tree& root, std::vector<std::string>& errors) {
  std::vector<std::string> found;
  findUnknownKeys(root, "", keysLookedUp, found, errors);
  return found;
}

}  // namespace soilweb
