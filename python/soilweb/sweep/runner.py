"""Running a sweep's runs with GNU parallel, through the wrapper run_one.sh beside this module (a job
runs one or, in a large sweep, several runs one after another); following them as they end, making
each one's part at once; finding the runs under way, and stopping them (each with a checkpoint)."""
import ctypes
import fcntl
import os
import shutil
import signal
import subprocess
import sys
import time

from ..safe import Unreadable, check_file, check_folder, read_text
from .config import fail, runs_text
from .parts import SweepRecord, has_ended, make_part


def live_runs(out):
    """The runs of a sweep whose soilweb is under way, as (run, pid): by the pid its wrapper wrote, checked to be
    a process working in the run's folder (so that a pid used again by another process is not taken for it)."""
    found = []
    runs = os.path.join(out, "runs")
    for name in sorted(os.listdir(runs)) if os.path.isdir(runs) else []:
        folder = os.path.join(runs, name)
        try:
            with open(os.path.join(folder, "soilweb.pid")) as f:
                pid = int(f.read().strip())
            if os.readlink(f"/proc/{pid}/cwd") == os.path.realpath(folder):
                found.append((name, pid))
        except (OSError, ValueError):
            continue
    return found


def stop_runs(out, signalled):
    """Sends SIGTERM to every run under way not signalled yet (each then stops with a checkpoint)."""
    for _, pid in live_runs(out):
        if pid not in signalled:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                continue
            signalled.add(pid)


def wait_for_runs(out):
    while live_runs(out):
        time.sleep(0.05)


def end_with_parent():
    """In GNU parallel before it starts: SIGTERM when the sweep dies, even of SIGKILL, so no job starts after it."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def clock(seconds):
    """1:05, 1:02:05."""
    seconds = int(round(seconds))
    hours, rest = divmod(seconds, 3600)
    return f"{hours}:{rest // 60:02d}:{rest % 60:02d}" if hours else f"{rest // 60}:{rest % 60:02d}"


class EndedLog:
    """The file the runs' wrapper adds a line to as each run ends ("STATUS<tab>FOLDER"), read as it grows."""

    def __init__(self, path):
        self.path = path
        self.offset = 0

    def ended(self):
        """The runs ended since the last call, as (run name, whether it failed: a status other than 0)."""
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except OSError:
            return []
        whole = data[:data.rfind(b"\n") + 1]  # a line still being written is read next time
        self.offset += len(whole)
        runs = []
        for line in whole.decode(errors="replace").splitlines():
            status, _, folder = line.partition("\t")
            runs.append((os.path.basename(os.path.normpath(folder)), status != "0"))
        return runs


class SweepProgress:
    """The sweep's line on a terminal, rewritten as runs end: runs done of N, failed, time elapsed and left at
    this pace; then a closing line with the runs, the failures and the wall time. Nothing on a stream that is
    not a terminal."""

    def __init__(self, out, stream=sys.stderr, label="soilweb-sweep"):
        with open(os.path.join(out, "jobs.txt")) as f:
            self.total = sum(1 for line in f if line.strip())
        self.stream, self.label = stream, label
        self.shown = stream.isatty() and self.total > 0
        self.started = time.monotonic()
        self.done = self.failed = 0
        self.drawn = None

    def count(self, ended):
        """Counts the runs ended (as EndedLog.ended gives them)."""
        self.done += len(ended)
        self.failed += sum(1 for _, failed in ended if failed)

    def line(self):
        elapsed = time.monotonic() - self.started
        text = f"{self.label}: {self.done} of {self.total} runs done"
        text += f", {self.failed} failed" if self.failed else ""
        text += f"; {clock(elapsed)} elapsed"
        if 0 < self.done < self.total:
            text += f", about {clock(elapsed / self.done * (self.total - self.done))} left"
        return text

    def update(self):
        if not self.shown:
            return
        text = self.line()
        if text != self.drawn:
            self.stream.write("\r\033[K" + text)
            self.stream.flush()
            self.drawn = text

    def finish(self):
        if not self.shown:
            return
        self.stream.write(f"\r\033[K{self.label}: {self.done} of {self.total} runs done, {self.failed} failed, in "
                          f"{clock(time.monotonic() - self.started)}\n")
        self.stream.flush()


class Reaper:
    """Follows the runs as they end: counts them for the progress line and makes each one's part at once, so
    that collect only joins them. A part that cannot be made now is left to collect, which says why."""

    def __init__(self, out, progress):
        self.out = out
        self.log = EndedLog(os.path.join(out, ENDED))
        self.progress = progress
        self.sweep = SweepRecord(out)

    def reap(self):
        ended = self.log.ended()
        self.progress.count(ended)
        for name, _ in ended:
            if name in self.sweep.by_name and has_ended(self.out, name):
                try:
                    make_part(self.out, self.sweep, name)
                except (OSError, ValueError):
                    continue
        self.progress.update()


# The file the runs' wrapper adds a line to as each run ends.
ENDED = "ended.tsv"
# Runs handed to one job at most: a job's start (GNU parallel's and the wrapper's) costs about
# as much as a fifth of a short run, so a large sweep hands each job several runs.
MOST_RUNS_PER_JOB = 16


def runs_per_job(runs, jobs):
    """One run a job for a small sweep; for a large one, up to MOST_RUNS_PER_JOB, while every job slot still
    gets about sixteen jobs, so that the last ones end close together."""
    return max(1, min(MOST_RUNS_PER_JOB, runs // (16 * jobs)))


def run_all(out, binary, jobs, hosts=None, reaper=Reaper, name="soilweb-sweep", what="sweep", launcher=()):
    """Runs every listed run with GNU parallel (on the machines listed in the file hosts, when given); a stop
    signal stops the runs, each with a checkpoint. reaper(out, progress): follows the runs as they end; name and
    what: the command and what it carries on, in its messages; launcher: words each job is started with (srun
    inside a Slurm allocation)."""
    if shutil.which("parallel") is None:
        fail("GNU parallel is not installed (apt-get install parallel)")
    if hosts is not None:
        check_hosts(hosts)
    check_run_folders(out)
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "run_one.sh")) as f:
        run_one = f.read()  # the runs' wrapper, handed to each job as its script
    stopping = os.path.abspath(os.path.join(out, ".stopping"))
    if os.path.exists(stopping):
        os.remove(stopping)
    ended = os.path.abspath(os.path.join(out, ENDED))
    open(ended, "w").close()
    progress = SweepProgress(out, label=name)
    command = ["parallel", "--jobs", str(jobs), "-N", str(runs_per_job(progress.total, jobs)),
               "--joblog", os.path.join(out, "joblog.tsv")]
    if hosts is not None:  # what each job needs is handed over ssh with it
        command += ["--sshloginfile", os.path.abspath(hosts), "--env", "SOILWEB", "--env", "STOPPING",
                    "--env", "ENDED", "--env", "SOILWEB_SWEEP_RUN"]
    # The job log shows each job as this one line, ending with its runs' folders.
    command += [" ".join(list(launcher) + ['sh -c "$SOILWEB_SWEEP_RUN" run {}']), "::::", os.path.join(out, "jobs.txt")]
    # In a session of its own, so that a Ctrl-C at the terminal reaches this
    # script only: the runs are then stopped one by one, each with its checkpoint.
    parallel = subprocess.Popen(command, start_new_session=True, preexec_fn=end_with_parent,
                                env=dict(os.environ, SOILWEB=binary, STOPPING=stopping, ENDED=ended,
                                         SOILWEB_SWEEP_RUN=run_one))
    received, signalled = [], set()

    def stop(signum, _frame):
        if not received:
            open(stopping, "w").close()
        received.append(signum)

    handlers = {s: signal.signal(s, stop) for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)}
    reaper = reaper(out, progress)
    try:
        while True:
            try:
                parallel.wait(timeout=0.2)
                break
            except subprocess.TimeoutExpired:
                reaper.reap()
            if received:  # runs that started just before the stop are caught on a later round
                stop_runs(out, signalled)
        if live_runs(out):  # GNU parallel ended (killed) with runs under way: none is left running unseen
            open(stopping, "w").close()
            stop_runs(out, signalled)
            wait_for_runs(out)
            fail(f"GNU parallel ended ({parallel.returncode}) while {runs_text(len(signalled))} were under way; they "
                 f"were stopped with a checkpoint: run the same command again to carry the {what} on")
    finally:
        # On any end this script can catch, no run of its own goes on without it.
        stop_runs(out, signalled)
        for s, handler in handlers.items():
            signal.signal(s, handler)
    reaper.reap()
    progress.finish()
    if received:
        os.remove(stopping)
        print(f"{name}: stopped by {signal.Signals(received[0]).name}; {runs_text(len(signalled))} under way stopped "
              f"with a checkpoint; run the same command again to carry the {what} on", file=sys.stderr)
        sys.exit(128 + received[0])


def check_hosts(hosts):
    """A --hosts file must be a regular file of logins, one a line (blank lines and # comments aside), and
    name at least one: a missing or empty one would run everything here, unseen. Returns the logins."""
    try:
        text = read_text(hosts, 1 << 20)
    except FileNotFoundError:
        fail(f"--hosts: there is no file {hosts}")
    except Unreadable as e:
        fail(f"--hosts: {e}")
    logins = [line.strip() for line in text.splitlines() if line.strip() and not line.lstrip().startswith("#")]
    if not logins:
        fail(f"--hosts: {hosts} names no host (one login a line, such as user@node1 or 4/node2)")
    for login in logins:
        if any(c.isspace() for c in login):
            fail(f"--hosts: {hosts}: '{login}' is not one login (one login a line, such as user@node1)")
    return logins


# What a run's wrapper writes in the run's folder: each a regular file or absent, never a link.
WRAPPER_FILES = ("console.txt", "errors.txt", "exit_status", "soilweb.pid", "sweep.part")


def check_run_folders(out):
    """Every run folder to be run, and what its wrapper writes there, is what the sweep made: a link or a FIFO
    is refused, naming it, before any run starts."""
    for line in read_text(os.path.join(out, "jobs.txt"), 1 << 30).splitlines():
        check_folder(line)
        for name in WRAPPER_FILES:
            check_file(os.path.join(line, name))


def refuse_live_runs(out):
    """A sweep folder whose runs are still under way (an earlier sweep killed outright) is left alone."""
    alive = live_runs(out)
    if alive:
        named = ", ".join(f"{run} (pid {pid})" for run, pid in alive[:5]) + (", ..." if len(alive) > 5 else "")
        fail(f"{len(alive)} run{'s' if len(alive) > 1 else ''} of an earlier sweep in {out} "
             f"{'are' if len(alive) > 1 else 'is'} still under way: {named}; wait for them, or stop them with "
             "kill PID (each stops with a checkpoint), then run the same command again")


def refuse_locked_runs(out, runs):
    """collect reads only runs that no soilweb is writing."""
    for run in runs:
        try:
            fd = os.open(os.path.join(out, "runs", run["run"], run["run"]), os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW)
        except OSError:
            continue
        try:
            fcntl.flock(fd, fcntl.LOCK_SH | fcntl.LOCK_NB)
        except BlockingIOError:
            fail(f"cannot collect: {run['run']} is still being written by a soilweb process; wait for it to end")
        finally:
            os.close(fd)
