#!/bin/sh
# Runs of a sweep, one after another, each in its folder: its console, errors and exit status go
# beside its outputs. The pid of the soilweb under way is in soilweb.pid while it runs: the
# sweep finds and stops its runs by it, whatever the binary is called. A run
# stopped with a checkpoint carries on from it (its console and errors go on
# in the same files); one whose checkpoint cannot be used starts
# afresh, saying so, whatever soilweb's words; any other run done again replaces its earlier attempt
# (its share of the sweep's tables, sweep.part, is made again once it ends).
# No run starts once the sweep is stopping. As each run ends, a line "STATUS<tab>FOLDER" is
# added to the file ENDED, when given: the sweep follows its runs by it. Exits with the status
# of the last run that did not end with 0 (0 when all did), so the job log holds it too.
# Called as: sh -c "$(cat run_one.sh)" run FOLDER..., with SOILWEB (the binary), STOPPING (the
# file that says the sweep is stopping) and optionally ENDED in the environment.
one_run() {
  # The run's folder and the files written here are the sweep's own: never a link or a FIFO.
  if [ -L "$1" ] || [ ! -d "$1" ]; then echo "soilweb-sweep: $1 is not a run folder the sweep made" >&2; return 1; fi
  cd "$1" || return 1
  for file in console.txt errors.txt exit_status soilweb.pid sweep.part; do
    if [ -L "$file" ] || { [ -e "$file" ] && [ ! -f "$file" ]; }; then
      echo "soilweb-sweep: $1/$file is not a file the sweep wrote; move it away" >&2; return 1
    fi
  done
  name=${1%/}; name=${name##*/}
  # Until it ends, the run has no exit status, and no share of the sweep's tables from an earlier attempt.
  if [ -e exit_status ] || [ -e sweep.part ]; then rm -f exit_status sweep.part; fi
  record="$name/outputs/${name}_run_info.json"
  if [ -f "$name/checkpoint/${name}_checkpoint.bin" ]; then
    said=0; [ -f errors.txt ] && said=$(wc -l < errors.txt)
    "$SOILWEB" --resume "$name" run_params >> console.txt 2>> errors.txt & echo $! > soilweb.pid; wait $!; s=$?
    # Refused before any day ran (a checkpoint or kept tables it cannot use, whatever the words): the
    # record is left as it was, not marked failed by a run that went on and then failed.
    if [ $s -eq 1 ] && ! { [ -f "$record" ] && [ ! -L "$record" ] && grep -q '^  "status": "failed",' "$record"; } &&
       [ ! -e "$STOPPING" ]; then
      line="soilweb-sweep: $name: $(tail -n +$((said + 1)) errors.txt | grep -v ': \(warning\|note\): ' | head -n 1 | sed 's/^soilweb: //'); the run starts afresh"
      echo "$line" >&2; echo "$line" >> errors.txt
      "$SOILWEB" --overwrite run_params > console.txt 2>> errors.txt & echo $! > soilweb.pid; wait $!; s=$?
    fi
  else
    "$SOILWEB" --overwrite run_params > console.txt 2> errors.txt & echo $! > soilweb.pid; wait $!; s=$?
  fi
  echo $s > exit_status
  : > soilweb.pid  # emptied, not removed: one process fewer a run (an empty file names no process)
  return $s
}

status=0
for folder in "$@"; do
  [ -e "$STOPPING" ] && break
  (one_run "$folder"); s=$?
  [ -n "${ENDED:-}" ] && printf '%s\t%s\n' "$s" "$folder" >> "$ENDED"
  [ $s -eq 0 ] || status=$s
done
exit $status
