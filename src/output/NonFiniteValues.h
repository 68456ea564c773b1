// Where a run first wrote a number that is not finite ("nan", "inf"): the
// model computes such numbers from some settings and they are kept as they
// are, but a run that writes them says so once, naming the day, the file and
// the column. Each writer of a day's text compares the count of non-finite
// numbers written (kept by the number formatting) before and after it made
// the text, so the common case costs one comparison, and only then scans it.
// One per run, owned by the run's outputs.
#pragma once

#include <cstdint>
#include <string>

namespace soilweb {

class NonFiniteValues {
 public:
  // The count of non-finite numbers written so far, to compare with later.
  static std::uint64_t mark();
  static bool writtenSince(std::uint64_t marked) { return mark() != marked; }
  // Notes the first non-finite field of text (tab-separated lines, header the
  // file's header line) as written on day to file, unless one was noted before.
  void noteFirstIn(const std::string& text, const std::string& header, const std::string& file, int day);
  // Notes a non-finite value whose column could not be told.
  void noteSomewhere(const std::string& file, int day);

  bool found() const { return day >= 0; }
  // "day 3, column BIOMASS of the summary".
  std::string where() const;
  int firstDay() const { return day; }

  // The column of the first field of text that is not a finite number; "" when there is none.
  static std::string firstColumn(const std::string& text, const std::string& header);

 private:
  int day = -1;
  std::string file, column;
};

}  // namespace soilweb
