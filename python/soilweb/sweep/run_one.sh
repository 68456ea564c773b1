#!/bin/sh
# One run of a sweep, in its folder: its console, errors and exit status go
# beside its outputs, and it exits with its status, so the job log holds it
# too. The pid of the soilweb under way is in soilweb.pid while it runs: the
# sweep finds and stops its runs by it, whatever the binary is called. A run
# stopped with a checkpoint carries on from it (its console and errors go on
# in the same files); one whose checkpoint cannot be used starts
# afresh, saying so; any other run done again replaces its earlier attempt.
# No run starts once the sweep is stopping.
# Called as: sh -c "$(cat run_one.sh)" run FOLDER, with SOILWEB (the binary) and STOPPING (the
# file that says the sweep is stopping) in the environment.
[ -e "$STOPPING" ] && exit 0
cd "$1" || exit 1
name=$(basename "$1")
if [ -f "$name/checkpoint/${name}_checkpoint.bin" ]; then
  "$SOILWEB" --resume "$name" run_params >> console.txt 2>> errors.txt & echo $! > soilweb.pid; wait $!; s=$?
  if [ $s -eq 1 ] && tail -n 1 errors.txt | grep -q "^soilweb: checkpoint '" && [ ! -e "$STOPPING" ]; then
    line="soilweb-sweep: $name: $(tail -n 1 errors.txt | sed 's/^soilweb: //'); the run starts afresh"
    echo "$line" >&2; echo "$line" >> errors.txt
    "$SOILWEB" --overwrite run_params > console.txt 2>> errors.txt & echo $! > soilweb.pid; wait $!; s=$?
  fi
else
  "$SOILWEB" --overwrite run_params > console.txt 2> errors.txt & echo $! > soilweb.pid; wait $!; s=$?
fi
echo $s > exit_status
rm -f soilweb.pid
exit $s
