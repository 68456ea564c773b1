// One column of a result file, as its writer makes it and as the schema
// describes it: its header, type, unit and meaning, and how its value is taken
// from the record a row is made of (an animal, a cell, a day's counts, a group
// of animals). Each writer holds its file's columns in one table and emits them
// in the table's order, and ResultSchema lists the same tables, so a column
// moves, or a new one appears, in one place. Tables are constants, made on
// first use.
#pragma once

#include "core/GlobalFunctions.h"
#include "output/ResultSchema.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace soilweb {

// A column's value in one row: a whole number, a real, or a text (also what a
// missing value is written as: "NA", or nothing).
struct FieldValue {
  enum Kind : unsigned char { WHOLE, REAL, TEXT };
  Kind kind;
  long long whole = 0;
  double real = 0;
  std::string_view text;

  static FieldValue of(long long n) { return {WHOLE, n, 0, {}}; }
  static FieldValue of(double x) { return {REAL, 0, x, {}}; }
  static FieldValue of(std::string_view text) { return {TEXT, 0, 0, text}; }
  static FieldValue of(const char* text) { return of(std::string_view(text)); }
  static FieldValue of(const std::string& text) { return of(std::string_view(text)); }
  // A real, or missing ("NA") when it is not known.
  static FieldValue realOrNA(double x, bool known) { return known ? of(x) : of("NA"); }

  void appendTo(std::string& out) const {
    if (kind == WHOLE)
      appendInt(out, whole);
    else if (kind == REAL)
      appendDouble(out, real);
    else
      out.append(text.data(), text.size());
  }
};

template <class Record>
struct Column {
  ResultColumn about;
  std::function<FieldValue(const Record&)> value;
};

template <class Record>
using Columns = std::vector<Column<Record>>;

// What the schema says of each column.
template <class Record>
std::vector<ResultColumn> describe(const Columns<Record>& columns) {
  std::vector<ResultColumn> described;
  for (const Column<Record>& column : columns) described.push_back(column.about);
  return described;
}

// Appends record's row: its values tab-separated, and a newline. A column that
// only some keys add (its `when` set) is written when withOptional is true.
template <class Record>
void appendRow(std::string& out, const Columns<Record>& columns, const Record& record, bool withOptional = false) {
  bool first = true;
  for (const Column<Record>& column : columns) {
    if (*column.about.when != '\0' && !withOptional) continue;
    if (!first) out += '\t';
    first = false;
    column.value(record).appendTo(out);
  }
  out += '\n';
}

}  // namespace soilweb
