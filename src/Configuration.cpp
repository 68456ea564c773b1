#include "Configuration.h"

#include <boost/property_tree/json_parser.hpp>

#include <cerrno>
#include <climits>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <utility>

Configuration::Configuration(const boost::property_tree::ptree& node, std::string path)
    : node(node), path(std::move(path)) {}

namespace {
// The JSON reader recurses once per level of nesting; refuse what would
// exhaust the stack long before it could be a configuration.
const int MAX_NESTING = 64;

int nestingDepth(const std::string& text) {
  int depth = 0, deepest = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      deepest = std::max(deepest, ++depth);
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return deepest;
}
}  // namespace

boost::property_tree::ptree Configuration::parse(const std::string& text) {
  if (nestingDepth(text) > MAX_NESTING)
    throw Error("malformed JSON: nested more than " + std::to_string(MAX_NESTING) + " levels deep");
  std::istringstream in(text);
  boost::property_tree::ptree tree;
  try {
    boost::property_tree::read_json(in, tree);
  } catch (const boost::property_tree::json_parser_error& e) {
    throw Error("malformed JSON at line " + std::to_string(e.line()) + ": " + e.message());
  }
  return tree;
}

std::string Configuration::pathOf(const std::string& key) const {
  return path.empty() ? key : path + "." + key;
}

std::vector<std::string>* Configuration::keysLookedUp = nullptr;

bool Configuration::has(const std::string& key) const {
  if (keysLookedUp) keysLookedUp->push_back(pathOf(key));
  return node.get_child_optional(key).has_value();
}

const boost::property_tree::ptree& Configuration::child(const std::string& key) const {
  if (keysLookedUp) keysLookedUp->push_back(pathOf(key));
  auto found = node.get_child_optional(key);
  if (!found) throw Error("missing key '" + pathOf(key) + "'");
  return *found;
}

Configuration Configuration::section(const std::string& key) const { return Configuration(child(key), pathOf(key)); }

void Configuration::fail(const std::string& key, const std::string& problem) const {
  throw Error("'" + pathOf(key) + "' " + problem);
}

std::string Configuration::text(const std::string& key) const { return child(key).data(); }

double Configuration::lenientReal(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

int Configuration::lenientInt(const std::string& text) {
  return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

double Configuration::real(const std::string& key) const { return lenientReal(text(key)); }

int Configuration::integer(const std::string& key) const { return lenientInt(text(key)); }

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
}  // namespace

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
