// Micro-benchmarks of the hot operations: one snapshot line, ten days of a
// whole world (the model alone, then with its snapshot files), and a
// predator's search of a crowded cell.
#include "Fixtures.h"
#include "model/World.h"
#include "output/AnimalSnapshot.h"
#include "output/RunOutputs.h"

#include <benchmark/benchmark.h>

#include <sstream>

using namespace soilweb;

namespace {

void SnapshotLine(benchmark::State& state) {
  fixtures::Ring ring(1);
  auto species = fixtures::makeSpecies();
  auto* prey = fixtures::addAnimal<Prey>(ring[0], species.get(), ACTIVE, 12345,
                                         {{ENERGY_TANK, 0.123456789}, {BODY_SIZE, 1234.5678}, {SPEED, 1e-7}});
  std::ostringstream out;
  for (auto _ : state) {
    out.str("");
    out << *prey << '\n';
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(SnapshotLine);

// Ten days of a world of 40 cells and 1000 founders; with snapshots, its daily
// animal and cell files are written too (at once, on this thread).
void WorldTenDays(benchmark::State& state, bool snapshots) {
  fixtures::ScratchFolder scratch;
  for (auto _ : state) {
    state.PauseTiming();
    fixtures::freshProcess();
    auto world = std::make_unique<World>(fixtures::validConfig(1000, 40, 900, 100));
    RunOutputs outputs(*world, {}, nullptr);
    if (snapshots) world->observe(&outputs);
    state.ResumeTiming();
    for (int day = 0; day < 10 && !world->isExtinguished(); ++day) world->runNextDay(day);
  }
}
BENCHMARK_CAPTURE(WorldTenDays, model, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(WorldTenDays, withSnapshots, true)->Unit(benchmark::kMillisecond);

void PredatorSearch(benchmark::State& state) {
  fixtures::Ring ring(1);
  auto preys = fixtures::makeSpecies("prey");
  auto hunters = fixtures::makeSpecies("predator");
  hunters->setDefaultHuntingMode(ACTIVE_HUNTING);
  hunters->setMeanVorHunter(1e6);  // never meets anything: the whole list is searched
  for (int i = 0; i < 1000; ++i)
    fixtures::addAnimal<Prey>(ring[0], preys.get(), ACTIVE, i, {{SPEED, 1}, {BODY_SIZE, 1}});
  auto* hunter = fixtures::addAnimal<Predator>(ring[0], hunters.get(), ACTIVE, 5000);
  seedRandom(1);
  for (auto _ : state) ring[0]->searchAnimals(hunter, 0);
}
BENCHMARK(PredatorSearch);
}  // namespace
