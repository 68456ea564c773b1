#include "GlobalFunctions.h"

#include <sys/time.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <charconv>

double linearInterpolate(double x, double x0, double x1, double y0, double y1) {
  const double slope = (y1 - y0) / (x1 - x0);
  return (x - x0) * slope + y0;
}

double randomUniform() { return drand48(); }

double randomUniform(double a, double b) {
  const double u = drand48();
  return u * (b - a) + a;
}

int randomIndex(int n) {
  const double u = drand48();
  return static_cast<int>(u * n);
}

void seedRandom(long seed) { srand48(seed); }

namespace {
bool fitsInInt(double x) { return x > static_cast<double>(INT_MIN) - 1.0 && x < static_cast<double>(INT_MAX) + 1.0; }
}  // namespace

int roundToInt(double x) {
  const double r = std::round(x);
  return fitsInInt(r) ? static_cast<int>(r) : INT_MIN;
}

int truncateToInt(double x) { return fitsInInt(x) ? static_cast<int>(x) : INT_MIN; }

std::uint64_t get_timestamp() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_usec);
}

void appendDouble(std::string& out, double x) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, x, std::chars_format::general, 6).ptr;
  out.append(text, end);
}

void appendInt(std::string& out, long long n) {
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, n).ptr;
  out.append(text, end);
}
