// The temperature of each day of a run given as a series of [day, degrees]
// points: linear between points, held beyond the first and the last. Read
// once from simulation.temperatureSeries by the world, which sets the day's
// temperature from it before anything else happens that day. A value.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace soilweb {

class Configuration;

class TemperatureSeries {
 public:
  // The series at key of config: a list of [day, degrees] pairs with days
  // strictly increasing; anything else is refused with a Configuration::Error.
  static TemperatureSeries read(const Configuration& config, const std::string& key);

  bool empty() const { return points.empty(); }
  // The temperature of day.
  double at(int day) const;
  // The points, in day order.
  const std::vector<std::pair<int, double>>& getPoints() const { return points; }

 private:
  std::vector<std::pair<int, double>> points;
};

}  // namespace soilweb
