// Which snapshot files a run writes, and on which days: 0, every, 2 every, ...,
// the last configured day and the day after which the world died out; and in
// which layout. A value, read with the run's settings and kept for the run.
#pragma once

namespace soilweb {

struct SnapshotChoice {
  int every = 1;
  bool animalsStart = true;  // the start-of-day animal files (under animals_each_day_end)
  bool animalsEnd = true;    // the end-of-day animal files (under animals_each_day_start)
  bool cells = true;
  bool tables = false;    // one file per kind for the whole run instead of one a day
  bool deadOnce = false;  // tables: a dead animal's row only on the first snapshot day it shows
};

}  // namespace soilweb
