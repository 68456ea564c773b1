#include "core/TemperatureSeries.h"

#include "core/Configuration.h"
#include "core/GlobalFunctions.h"

#include <cmath>
#include <cstdlib>

namespace soilweb {

namespace {
// The whole text as a decimal number; false when it is not one.
bool wholeNumber(const std::string& text, double& value) {
  const std::size_t first = text.find_first_not_of(" \t\n\r");
  const std::size_t last = text.find_last_not_of(" \t\n\r");
  if (first == std::string::npos) return false;
  const std::string t = text.substr(first, last - first + 1);
  if (t.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
  char* end = nullptr;
  value = std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size() && std::isfinite(value);
}
}  // namespace

TemperatureSeries TemperatureSeries::read(const Configuration& config, const std::string& key) {
  TemperatureSeries series;
  const std::string shape = "must be a list of [day, degrees] pairs";
  const auto& list = config.child(key);
  if (list.empty() && !list.data().empty()) config.fail(key, shape + ", got '" + list.data() + "'");
  std::size_t k = 0;
  for (const auto& element : list) {
    const std::string at = key + "[" + std::to_string(k++) + "]";
    if (!element.first.empty()) config.fail(key, shape + " (it has a member named '" + element.first + "')");
    if (element.second.size() != 2)
      config.fail(at, shape + ", got an element of " + std::to_string(element.second.size()) + " values");
    std::vector<std::string> values;
    for (const auto& value : element.second) values.push_back(value.second.data());
    double day = 0, degrees = 0;
    if (!wholeNumber(values[0], day) || day != std::floor(day))
      config.fail(at, "must start with a whole day, got '" + values[0] + "'");
    if (std::fabs(day) > 1e9)
      config.fail(at, "starts with day " + values[0] + ", beyond the 1000000000 days a series may span");
    if (!wholeNumber(values[1], degrees)) config.fail(at, "must end with degrees Celsius, got '" + values[1] + "'");
    const int whole = static_cast<int>(day);
    if (!series.points.empty() && whole <= series.points.back().first)
      config.fail(at, "has day " + std::to_string(whole) + " after day " + std::to_string(series.points.back().first) +
                          "; the days must increase");
    series.points.emplace_back(whole, degrees);
  }
  if (series.points.empty()) config.fail(key, shape + ", got an empty list");
  return series;
}

double TemperatureSeries::at(int day) const {
  if (day <= points.front().first) return points.front().second;
  for (std::size_t k = 1; k < points.size(); ++k)
    if (day <= points[k].first) {
      const auto& [d0, t0] = points[k - 1];
      const auto& [d1, t1] = points[k];
      return linearInterpolate(day, d0, d1, t0, t1);
    }
  return points.back().second;
}

}  // namespace soilweb
