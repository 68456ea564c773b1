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

namespace {
// The exact six-digit form, as printf's %g writes it (slow but always right).
void appendDoubleExactly(std::string& out, double x) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, x, std::chars_format::general, 6).ptr;
  out.append(text, end);
}
}  // namespace

// Fast path: the shortest digits that identify x are rounded to six. For a
// normal double the interval of values those digits stand for is far narrower
// than the spacing of seven-digit decimals, so this is the rounding of x itself
// unless the shortest digits sit exactly on a tie (seven digits ending in 5),
// where x may lie on either side: then the exact conversion decides, as it does
// for zero, subnormals, infinities and NaN.
void appendDouble(std::string& out, double x) {
  if (!std::isnormal(x)) return appendDoubleExactly(out, x);
  char text[32];
  *std::to_chars(text, text + sizeof text - 1, x, std::chars_format::scientific).ptr = '\0';
  const char* p = text;
  const bool negative = *p == '-';
  if (negative) ++p;
  char digits[20];
  int count = 0;
  for (; *p != 'e'; ++p)
    if (*p != '.') digits[count++] = *p;
  int exponent = 0;
  const bool negativeExponent = *++p == '-';
  for (++p; *p; ++p) exponent = exponent * 10 + (*p - '0');
  if (negativeExponent) exponent = -exponent;
  if (count == 7 && digits[6] == '5') return appendDoubleExactly(out, x);
  if (count > 6) {
    const bool up = digits[6] >= '5';
    count = 6;
    for (int i = 5; up && i >= 0; --i) {
      if (digits[i] != '9') {
        ++digits[i];
        break;
      }
      digits[i] = '0';
      if (i == 0) {  // 999999.5 becomes 1000000: one more digit before the point
        digits[0] = '1';
        ++exponent;
      }
    }
  }
  while (count > 1 && digits[count - 1] == '0') --count;  // %g drops trailing zeros
  if (negative) out += '-';
  if (exponent < -4 || exponent >= 6) {
    out += digits[0];
    if (count > 1) {
      out += '.';
      out.append(digits + 1, count - 1);
    }
    out += exponent < 0 ? "e-" : "e+";
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) out += '0';
    appendInt(out, magnitude);
  } else if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out.append(digits, count);
  } else {
    const int whole = exponent + 1;
    if (count <= whole) {
      out.append(digits, count);
      out.append(static_cast<std::size_t>(whole - count), '0');
    } else {
      out.append(digits, whole);
      out += '.';
      out.append(digits + whole, count - whole);
    }
  }
}

void appendInt(std::string& out, long long n) {
  char text[24];
  const auto end = std::to_chars(text, text + sizeof text, n).ptr;
  out.append(text, end);
}
