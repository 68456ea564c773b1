// Must not compile: the model layer sees only its own headers and those of
// the layers below it, so a model source that reaches for an output header
// fails the build. The layer test builds this file and expects the failure.
#include "model/World.h"
#include "output/RunOutputs.h"
