#include "GlobalFunctions.h"

#include <sys/time.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <algorithm>
#include <charconv>

double linearInterpolate(double x, double x0, double x1, double y0, double y1) {
  const double slope = (y1 - y0) / (x1 - x0);
  return (x - x0) * slope + y0;
}

namespace {
// The 48-bit state of the uniform generator (drand48's sequence, held here so
// that a checkpoint can carry it), lowest 16 bits first.
unsigned short uniformState[3];

// The breeding shuffle's generator: the system's additive generator in its
// default form (128 bytes of state), as rand() runs it when never seeded.
struct ShuffleStream {
  std::int32_t table[32];
  random_data data;
  ShuffleStream() { restart(); }
  // As rand() starts: as if seeded with 1.
  void restart() {
    data = random_data{};
    initstate_r(1, reinterpret_cast<char*>(table), sizeof table, &data);
  }
};
ShuffleStream shuffle;
}  // namespace

double randomUniform() { return erand48(uniformState); }

double randomUniform(double a, double b) {
  const double u = erand48(uniformState);
  return u * (b - a) + a;
}

int randomIndex(int n) {
  const double u = erand48(uniformState);
  return static_cast<int>(u * n);
}

int shuffleDraw() {
  std::int32_t result;
  random_r(&shuffle.data, &result);
  return result;
}

// As srand48 seeds: the seed's low 32 bits above 0x330E.
void seedRandom(long seed) {
  uniformState[0] = 0x330E;
  uniformState[1] = static_cast<unsigned short>(seed & 0xFFFF);
  uniformState[2] = static_cast<unsigned short>((seed >> 16) & 0xFFFF);
  shuffle.restart();
}

RandomStreams saveRandomStreams() {
  RandomStreams streams;
  std::copy(std::begin(uniformState), std::end(uniformState), streams.uniform.begin());
  std::copy(std::begin(shuffle.table), std::end(shuffle.table), streams.shuffleTable.begin());
  streams.shuffleFront = static_cast<std::int32_t>(shuffle.data.fptr - shuffle.data.state);
  streams.shuffleRear = static_cast<std::int32_t>(shuffle.data.rptr - shuffle.data.state);
  return streams;
}

bool restoreRandomStreams(const RandomStreams& streams) {
  shuffle.restart();  // the generator's shape: its kind, degree and separation
  const auto degree = shuffle.data.rand_deg;
  auto inside = [&](std::int32_t offset) { return offset >= 0 && offset < degree; };
  if (!inside(streams.shuffleFront) || !inside(streams.shuffleRear) ||
      (streams.shuffleFront - streams.shuffleRear + degree) % degree != shuffle.data.rand_sep)
    return false;
  std::copy(streams.uniform.begin(), streams.uniform.end(), std::begin(uniformState));
  std::copy(streams.shuffleTable.begin(), streams.shuffleTable.end(), std::begin(shuffle.table));
  shuffle.data.fptr = shuffle.data.state + streams.shuffleFront;
  shuffle.data.rptr = shuffle.data.state + streams.shuffleRear;
  return true;
}

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
char* writeDoubleExactly(char* at, double x) {
  return std::to_chars(at, at + 32, x, std::chars_format::general, 6).ptr;
}
}  // namespace

char* writeInt(char* at, long long n) { return std::to_chars(at, at + 24, n).ptr; }

// Fast path: the shortest digits that identify x are rounded to six. For a
// normal double the interval of values those digits stand for is far narrower
// than the spacing of seven-digit decimals, so this is the rounding of x itself
// unless the shortest digits sit exactly on a tie (seven digits ending in 5),
// where x may lie on either side: then the exact conversion decides, as it does
// for zero, subnormals, infinities and NaN.
char* writeDouble(char* at, double x) {
  if (!std::isnormal(x)) return writeDoubleExactly(at, x);
  if (std::fabs(x) < 1e6 && x == std::trunc(x)) return writeInt(at, static_cast<long long>(x));  // "%g" of 42.0 is "42"
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
  if (count == 7 && digits[6] == '5') return writeDoubleExactly(at, x);
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
  auto put = [&at](const char* from, int n) { at = std::copy(from, from + n, at); };
  if (negative) *at++ = '-';
  if (exponent < -4 || exponent >= 6) {
    *at++ = digits[0];
    if (count > 1) {
      *at++ = '.';
      put(digits + 1, count - 1);
    }
    *at++ = 'e';
    *at++ = exponent < 0 ? '-' : '+';
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) *at++ = '0';
    at = writeInt(at, magnitude);
  } else if (exponent < 0) {
    *at++ = '0';
    *at++ = '.';
    at = std::fill_n(at, -exponent - 1, '0');
    put(digits, count);
  } else {
    const int whole = exponent + 1;
    if (count <= whole) {
      put(digits, count);
      at = std::fill_n(at, whole - count, '0');
    } else {
      put(digits, whole);
      *at++ = '.';
      put(digits + whole, count - whole);
    }
  }
  return at;
}

void appendDouble(std::string& out, double x) {
  char text[32];
  out.append(text, writeDouble(text, x));
}

void appendInt(std::string& out, long long n) {
  char text[24];
  out.append(text, writeInt(text, n));
}

std::string gibibytes(double bytes) {
  std::string text;
  appendDouble(text, bytes / (1 << 30));
  return text + " GiB";
}
