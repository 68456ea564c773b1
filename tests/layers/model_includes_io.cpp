// Must not compile: the model writes no file, and the file layer is not even on its include path.
// The layer test builds this file and expects the failure.
#include "model/World.h"
#include "io/OutputFile.h"
