// Whole runs of the binary for evolution and experiments: the pedigree against
// the snapshots, the genetic statistics under neutrality and selection, a
// temperature series, and runs that go on past an extinction.
#include "WholeRunFixtures.h"

#include <cmath>

namespace {
// A table with a header, as rows of named fields.
struct Table {
  std::map<std::string, std::size_t> column;
  std::vector<std::vector<std::string>> rows;
  explicit Table(const std::string& tsv) {
    rows = rowsOf(tsv);
    for (std::size_t k = 0; k < rows.at(0).size(); ++k) column[rows[0][k]] = k;
    rows.erase(rows.begin());
  }
  const std::string& at(const std::vector<std::string>& row, const std::string& name) const {
    return row.at(column.at(name));
  }
  double number(const std::vector<std::string>& row, const std::string& name) const { return std::stod(at(row, name)); }
};

double correlation(const std::vector<double>& x, const std::vector<double>& y) {
  const double n = static_cast<double>(x.size());
  double mx = 0, my = 0, sxy = 0, sxx = 0, syy = 0;
  for (std::size_t i = 0; i < x.size(); ++i) mx += x[i] / n, my += y[i] / n;
  for (std::size_t i = 0; i < x.size(); ++i) {
    sxy += (x[i] - mx) * (y[i] - my);
    sxx += (x[i] - mx) * (x[i] - mx);
    syy += (y[i] - my) * (y[i] - my);
  }
  return sxy / std::sqrt(sxx * syy);
}

// Mean and standard error of a genetic value over every living animal of the
// species on day, from the genetic statistics' stages.
std::pair<double, double> livingMean(const Table& genetics, int day, const std::string& species,
                                     const std::string& trait) {
  double n = 0, sum = 0, squares = 0;
  for (const auto& row : genetics.rows) {
    if (std::stoi(row[0]) != day || row[1] != species || genetics.at(row, "count") == "0") continue;
    const double count = genetics.number(row, "count");
    const double mean = genetics.number(row, trait + "_mean");
    const double sd = count > 1 ? genetics.number(row, trait + "_sd") : 0;
    n += count;
    sum += count * mean;
    squares += (count - 1) * sd * sd + count * mean * mean;
  }
  const double mean = sum / n;
  return {mean, std::sqrt((squares / n - mean * mean) / n)};
}
}  // namespace

// Every animal of every end-of-day snapshot has one pedigree row, made when it
// was, with the same parents and generation numbers; the dead have one row of
// deaths with their day and fate; offspring resemble their parents.
TEST(WholeRun, ThePedigreeRebuildsEverySnapshotsParentsAndDeaths) {
  Scratch here;
  const Outcome run = here.run(exampleConfig({{"days", "60"}}), "--set simulation.outputs.layout=tables");
  ASSERT_EQ(run.status, 0) << run.err;
  const Table pedigree(here.file("run1/outputs/run1_pedigree.tsv"));
  const Table deaths(here.file("run1/outputs/run1_deaths.tsv"));
  const Table animals(here.file("run1/outputs/run1_animals_end.tsv"));
  std::map<int, std::size_t> rowOf;
  for (std::size_t k = 0; k < pedigree.rows.size(); ++k) {
    const int id = std::stoi(pedigree.rows[k][0]);
    EXPECT_EQ(id, static_cast<int>(k)) << "each animal once, in the order they were made";
    rowOf[id] = k;
  }
  std::map<int, std::pair<std::string, std::string>> deathOf;  // id -> day, fate
  for (const auto& row : deaths.rows) {
    EXPECT_TRUE(deathOf.emplace(std::stoi(deaths.at(row, "id")), std::pair{row[0], row[3]}).second) << "died twice";
  }
  const char* const fates[] = {"alive", "alive", "starved", "predated", "alive", "background", "senesced"};
  int lastDay = 0;
  for (const auto& row : animals.rows) lastDay = std::max(lastDay, std::stoi(row[0]));
  std::size_t checked = 0, deadChecked = 0;
  for (const auto& row : animals.rows) {
    const int id = std::stoi(animals.at(row, "id"));
    ASSERT_EQ(rowOf.count(id), 1u) << "animal " << id << " has no pedigree row";
    const auto& born = pedigree.rows[rowOf[id]];
    // The founders (the first 160 animals made: 120 prey, 40 predators) have no parents: the pedigree leaves them empty (NA)
    // where a snapshot writes 0, which is also an animal's id.
    const bool founder = id < 160;
    EXPECT_EQ(pedigree.at(born, "species"), animals.at(row, "species"));
    for (const char* field : {"ID_prt1", "ID_prt2", "g_numb_prt1", "g_numb_prt2"})
      EXPECT_EQ(pedigree.at(born, field), founder ? std::string() : animals.at(row, field)) << id << " " << field;
    EXPECT_EQ(pedigree.at(born, "birth_day"), animals.at(row, "date_egg"));
    ++checked;
    const int state = std::stoi(animals.at(row, "state"));
    if (std::stoi(row[0]) != lastDay || std::string(fates[state]) == "alive") continue;
    ASSERT_EQ(deathOf.count(id), 1u) << "dead animal " << id << " has no row of deaths";
    EXPECT_EQ(deathOf[id].first, animals.at(row, "date_death"));
    EXPECT_EQ(deathOf[id].second, fates[state]);
    ++deadChecked;
  }
  EXPECT_GT(deadChecked, 0u);
  EXPECT_EQ(deathOf.size(), deadChecked) << "a death the last snapshot does not show";
  EXPECT_GT(checked, pedigree.rows.size());

  // Offspring body size against the mean of their parents' (a loose check of inheritance).
  std::vector<double> offspring, midParent;
  for (const auto& row : pedigree.rows) {
    if (pedigree.at(row, "birth_day") == "0") continue;
    const auto& p1 = pedigree.rows[rowOf.at(std::stoi(pedigree.at(row, "ID_prt1")))];
    const auto& p2 = pedigree.rows[rowOf.at(std::stoi(pedigree.at(row, "ID_prt2")))];
    offspring.push_back(pedigree.number(row, "body"));
    midParent.push_back((pedigree.number(p1, "body") + pedigree.number(p2, "body")) / 2);
  }
  ASSERT_GT(offspring.size(), 30u);
  EXPECT_GT(correlation(midParent, offspring), 0.3);
}

// Prey alone with food in excess: no trait is selected, and the mean genetic
// values stay within their sampling error. Prey starving in a barren soil: the
// larger reserves live longer, and the mean genetic reserve of the living rises.
TEST(WholeRun, GeneticMeansStayPutWithoutSelectionAndMoveUnderIt) {
  const std::string common =
      " --set simulation.stopWhen=never --set world.life.animals.1.initialPopulation=0"
      " --set simulation.outputs.geneticStatistics=true";
  Scratch neutral, starving;
  ASSERT_EQ(neutral.run(exampleConfig({{"days", "30"}}), common).status, 0);
  const Table still(neutral.file("run1/outputs/run1_genetics.tsv"));
  for (const char* trait : {"energy", "body", "vor", "speed"}) {
    const auto [before, error] = livingMean(still, 0, "prey", trait);
    const auto [after, errorAfter] = livingMean(still, 30, "prey", trait);
    EXPECT_LT(std::fabs(after - before), 4 * std::hypot(error, errorAfter)) << trait;
  }
  ASSERT_EQ(
      starving
          .run(exampleConfig({{"days", "30"}, {"minCarryingCapacity", "0.001"}, {"maxCarryingCapacity", "0.002"}}),
               common)
          .status,
      0);
  const Table selected(starving.file("run1/outputs/run1_genetics.tsv"));
  const auto [before, error] = livingMean(selected, 0, "prey", "energy");
  int last = 0;
  for (const auto& row : selected.rows)
    if (row[1] == "prey" && selected.at(row, "count") != "0") last = std::max(last, std::stoi(row[0]));
  const auto [after, errorAfter] = livingMean(selected, last, "prey", "energy");
  EXPECT_GT(after - before, 4 * std::hypot(error, errorAfter)) << "by day " << last;
}

// A series of one value is the constant temperature: the same files, the
// summary with the day's temperature as its last column.
TEST(WholeRun, ASeriesOfOneTemperatureIsTheConstantTemperature) {
  Scratch constant, series;
  ASSERT_EQ(constant.run(exampleConfig({{"days", "30"}, {"temperature", "22.5"}})).status, 0);
  const Outcome run = series.run(exampleConfig({{"days", "30"}, {"temperature", "5"}}),
                                 "--set 'simulation.temperatureSeries=[[7, 22.5]]'");
  ASSERT_EQ(run.status, 0) << run.err;
  auto expected = constant.results(), got = series.results();
  const std::string summary = "run1/outputs/run1_summary.txt";
  std::string withColumn;
  std::istringstream lines(expected[summary]);
  for (std::string line; std::getline(lines, line);)
    withColumn += line + (withColumn.empty() ? "\tTEMPERATURE\n" : "\t22.5\n");
  EXPECT_EQ(got[summary], withColumn);
  expected.erase(summary);
  got.erase(summary);
  EXPECT_TRUE(got == expected);
}

// With stopWhen "never" a run whose predators die out goes on with the prey:
// every file up to that day is the default run's, the record says when they
// died out, and the closing note says so.
TEST(WholeRun, ARunGoesOnPastTheExtinctionOfItsPredators) {
  // Predators die of background mortality the day they hatch.
  const std::string doomed = "--set world.life.animals.1.tuneDeathFromBackground=1000000";
  Scratch any, never;
  const Outcome ended = any.run(exampleConfig({{"days", "40"}}), doomed);
  ASSERT_EQ(ended.status, 0) << ended.err;
  const std::string endedInfo = any.file("run1/outputs/run1_run_info.json");
  ASSERT_EQ(infoField(endedInfo, "status"), "\"extinct\"");
  const int lastDay = std::stoi(infoField(endedInfo, "last_day"));
  EXPECT_NE(endedInfo.find("\"died_out_days\": {\"resource\": null, \"prey\": null, \"predators\": " +
                           std::to_string(lastDay) + "}"),
            std::string::npos);

  const Outcome wentOn = never.run(exampleConfig({{"days", "40"}}), doomed + " --set simulation.stopWhen=never");
  ASSERT_EQ(wentOn.status, 0) << wentOn.err;
  const std::string info = never.file("run1/outputs/run1_run_info.json");
  EXPECT_EQ(infoField(info, "status"), "\"completed\"");
  EXPECT_EQ(infoField(info, "last_day"), "40");
  EXPECT_NE(info.find("\"predators\": " + std::to_string(lastDay) + "}"), std::string::npos);
  EXPECT_NE(wentOn.err.find("soilweb: note: the predators died out after day " + std::to_string(lastDay) +
                            "; the run went on to day 40 of 40\n"),
            std::string::npos)
      << wentOn.err;
  const auto shorter = any.results();
  auto longer = never.results();
  for (const auto& [path, content] : shorter) {
    if (path.find("_day_") != std::string::npos) {
      EXPECT_EQ(longer[path], content) << path;
    } else if (path.find("summary") != std::string::npos) {
      EXPECT_EQ(longer[path].substr(0, content.size()), content);
    }
  }
  EXPECT_GT(longer.size(), shorter.size());
}
