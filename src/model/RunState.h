// Every piece of state that outlives a day of a run, in sight in one place:
// who sets it, and whether a checkpoint saves it. The parameters keep their
// names as statics of the classes that use them; this class only lists them
// and moves the saved part in and out of a checkpoint, in one fixed order.
//
// Parameters, set once by World's constructor from run_params and not saved
// (a resumed run reads the same configuration again):
//   World::DAYS, World::PREDATORS, World::PARALLEL;
//   Cell::MIN_K, MAX_K, MIN_FUNGI, MAX_FUNGI, ZERO_FUNGI, B_NORMALISATION,
//   E_ACTIVATION_ENERGY, K_BOLZMANN, TEMPERATURE, MIN_TEMPERATURE,
//   MAX_TEMPERATURE, MIN_R, MAX_R, increaseForChemostatEffect,
//   thresholdForChemostatEffect.
// Switches, set by the run driver or a test before the world is built, not
// saved: World::CHECK_REGISTRY, World::MEMORY_BUDGET.
// Saved by transfer, in this order:
//   the random streams, the neutral markers' last (GlobalFunctions; seeded once by the run driver through
//   seedRandom, before the world is built, since founding draws from them);
//   the counters Animal::animalID, Cell::cellID and Species::speciesCounter,
//   which number what is made next;
//   the world: each species' observed trait ranges, each cell's soil and
//   animals (World::transferState).
// Records of reading the configuration (Configuration::warnings and the keys
// looked up) belong to one reading, not to the run, and are not saved.
#pragma once

namespace soilweb {

class StateArchive;
class World;

class RunState {
 public:
  // Saves or loads everything a run's next day depends on. Loading refuses
  // (StateArchive::Damaged) a state this world cannot hold.
  static void transfer(StateArchive& archive, World& world);
  // Sets the counters as a fresh process has them.
  static void resetCounters();
};

}  // namespace soilweb
