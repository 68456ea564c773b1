// Must not compile: the file layer sees only its own headers and those of the core, so an io
// source that reaches for the model fails the build. The layer test builds this file and expects
// the failure.
#include "io/OutputFile.h"
#include "model/World.h"
