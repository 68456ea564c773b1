#include "model/RunState.h"

#include "core/GlobalFunctions.h"
#include "core/StateArchive.h"
#include "model/Animal.h"
#include "model/Cell.h"
#include "model/Species.h"
#include "model/World.h"

namespace soilweb {

void RunState::transfer(StateArchive& archive, World& world) {
  RandomStreams streams = saveRandomStreams();
  archive.io(streams.uniform);
  archive.io(streams.shuffleTable);
  archive.io(streams.shuffleFront);
  archive.io(streams.shuffleRear);
  archive.io(streams.neutral);
  if (archive.isLoading()) archive.expect(restoreRandomStreams(streams), "the shuffle's generator state is impossible");
  archive.io(Animal::animalID);
  archive.io(Cell::cellID);
  archive.io(Species::speciesCounter);
  world.transferState(archive);
}

void RunState::resetCounters() {
  Animal::animalID = 0;
  Cell::cellID = 0;
  Species::speciesCounter = 0;
}

}  // namespace soilweb
