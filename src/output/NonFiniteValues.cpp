#include "output/NonFiniteValues.h"

#include "core/GlobalFunctions.h"

#include <cstring>

namespace soilweb {

namespace {
bool isNonFinite(const char* field, std::size_t length) {
  if (length > 0 && field[0] == '-') ++field, --length;
  return (length == 3 && (std::memcmp(field, "nan", 3) == 0 || std::memcmp(field, "inf", 3) == 0));
}

// The name of column k of a tab-separated header line, or "column K+1".
std::string columnName(const std::string& header, std::size_t k) {
  std::size_t from = 0;
  for (std::size_t i = 0; i < k && from != std::string::npos; ++i) {
    from = header.find('\t', from);
    if (from != std::string::npos) ++from;
  }
  if (from == std::string::npos || from >= header.size()) return "column " + std::to_string(k + 1);
  const std::size_t end = header.find_first_of("\t\n", from);
  return header.substr(from, end == std::string::npos ? std::string::npos : end - from);
}
}  // namespace

std::uint64_t NonFiniteValues::mark() { return nonFiniteNumbersWritten(); }

std::string NonFiniteValues::firstColumn(const std::string& text, const std::string& header) {
  std::size_t field = 0, from = 0;
  for (std::size_t at = 0; at <= text.size(); ++at) {
    const char c = at < text.size() ? text[at] : '\n';
    if (c != '\t' && c != '\n') continue;
    if (isNonFinite(text.data() + from, at - from)) return columnName(header, field);
    field = c == '\n' ? 0 : field + 1;
    from = at + 1;
  }
  return "";
}

void NonFiniteValues::noteFirstIn(const std::string& text, const std::string& header, const std::string& inFile,
                                  int onDay) {
  if (found()) return;
  const std::string name = firstColumn(text, header);
  if (name.empty()) return;
  day = onDay;
  file = inFile;
  column = name;
}

void NonFiniteValues::noteSomewhere(const std::string& inFile, int onDay) {
  if (found()) return;
  day = onDay;
  file = inFile;
}

std::string NonFiniteValues::where() const {
  return "day " + std::to_string(day) + (column.empty() ? ", " : ", column " + column + " of ") + file;
}

}  // namespace soilweb
