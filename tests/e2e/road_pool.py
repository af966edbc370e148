"""Roads run side by side: each worker is a runner process of its own
(`run_e2e.py --worker`) with its own X display and its own loopback address
(the log server's port 80 is per address), taking one road at a time. The
roads that spend about a minute waiting (the log server's drain, a stall
limit) use little of the machine, so they have lanes of their own beside
the busy ones: the suite then lasts about as long as the longer of the two
kinds, not their sum."""

import json
import os
import subprocess
import sys
import threading


SLOW_LANES = 2  # workers that take only the waiting roads


class _Worker:
    def __init__(self, command):
        # The worker's own output (a road's harness error, Wine's words) goes
        # to our stderr; its stdout carries one JSON line per road.
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True, bufsize=1)

    def run(self, job):
        try:
            self.process.stdin.write(json.dumps(job) + "\n")
            self.process.stdin.flush()
        except OSError:  # it has ended
            return None
        line = self.process.stdout.readline()
        if not line:
            return None
        return json.loads(line)

    def close(self):
        try:
            self.process.stdin.close()
        except OSError:
            pass
        self.process.wait()


def run_jobs(jobs, slow, busy_lanes, command, report):
    """Runs `jobs` (dicts with a "name"): those whose road is in `slow` on
    SLOW_LANES workers, the others on `busy_lanes`; a busy lane whose queue is
    empty helps with the slow roads. Calls report(result) as each road ends,
    under one lock so that the lines of two roads never mix. A worker that
    dies fails its road and leaves its queue to the others."""
    slow_queue = [j for j in jobs if j["name"] in slow]
    busy_queue = [j for j in jobs if j["name"] not in slow]
    lock = threading.Lock()

    def take(queues):
        with lock:
            for queue in queues:
                if queue:
                    return queue.pop(0)
        return None

    def serve(queues):
        worker = _Worker(command)
        try:
            while True:
                job = take(queues)
                if job is None:
                    return
                result = worker.run(job)
                if result is None:
                    result = {"name": job["name"], "ok": False, "seconds": 0.0,
                              "failures": [f"the runner process ended (exit "
                                           f"{worker.process.wait()}); its words are above"]}
                with lock:
                    report(result)
                if worker.process.poll() is not None:
                    return
        finally:
            worker.close()

    lanes = [(slow_queue,)] * min(SLOW_LANES, len(slow_queue))
    lanes += [(busy_queue, slow_queue)] * busy_lanes
    threads = [threading.Thread(target=serve, args=(lane,)) for lane in lanes]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for job in slow_queue + busy_queue:  # every worker ended early
        report({"name": job["name"], "ok": False, "seconds": 0.0,
                "failures": ["not run: every runner process had ended"]})


def worker_loop(execute):
    """The worker's side: one JSON job per line of stdin, one JSON result per
    line of stdout, until stdin ends. Whatever else a road prints goes to
    stderr, never into the results: a program a road starts inherits
    descriptor 1, which now is stderr too."""
    results = os.fdopen(os.dup(1), "w", buffering=1)
    os.dup2(2, 1)
    sys.stdout = sys.stderr
    for line in sys.stdin:
        if line.strip():
            results.write(json.dumps(execute(json.loads(line))) + "\n")
            results.flush()
    return 0


def worker_command(script, args):
    """The runner started as a worker with the same builds and work folder."""
    command = [sys.executable, script, "--worker", "--win32", args.win32, "--tests", args.tests,
               "--work", args.work]
    if args.bootpack:
        command += ["--bootpack", args.bootpack]
    if args.keep:
        command.append("--keep")
    return command


def default_jobs():
    """Two busy roads at a time (a busy road keeps about one core of Wine
    going at its peaks); one when $KESTREL_E2E_HOST fixes a single loopback
    address for every process, or as $KESTREL_E2E_JOBS says."""
    if os.environ.get("KESTREL_E2E_HOST"):
        return 1
    return int(os.environ.get("KESTREL_E2E_JOBS") or 2)
