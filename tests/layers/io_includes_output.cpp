// Must not compile: the file layer knows no result format, so an io source that reaches for an
// output header fails the build. The layer test builds this file and expects the failure.
#include "io/OutputFile.h"
#include "output/ResultSchema.h"
