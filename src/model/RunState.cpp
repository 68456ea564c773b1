#include "RunState.h"

#include "Animal.h"
#include "Cell.h"
#include "GlobalFunctions.h"
#include "Species.h"
#include "StateArchive.h"
#include "World.h"

void RunState::transfer(StateArchive& archive, World& world) {
  RandomStreams streams = saveRandomStreams();
  archive.io(streams.uniform);
  archive.io(streams.shuffleTable);
  archive.io(streams.shuffleFront);
  archive.io(streams.shuffleRear);
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
