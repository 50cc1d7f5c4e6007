"""Long native runs: other Python threads keep running meanwhile (the GIL
is released), and Ctrl-C stops them."""
import os
import signal
import subprocess
import sys
import threading
import time

import touchlane

# A fit that would run for hours: the simulation never reaches the tolerance.
LONG_FIT = ("touchlane.Markov(method='simulation', simulations=10**6, tolerance=1e-9, growth=1.01)"
            ".fit(j, nulls='nulls')")


def test_other_threads_run_during_a_fit():
    # With a switch interval of an hour Python never takes the GIL from a
    # running thread: the counter below (which hands the GIL back at every
    # tick) gets it only while the main thread lets go of it, as the native
    # fit does. A fit that kept it would see a handful of ticks at most.
    done = threading.Event()
    ticks = []

    def count():
        while not done.is_set():
            ticks.append(1)
            time.sleep(0)

    j = touchlane.journeys_sample()
    interval = sys.getswitchinterval()
    sys.setswitchinterval(3600)
    t = threading.Thread(target=count)
    try:
        t.start()
        before = len(ticks)
        touchlane.Markov(method="simulation", simulations=10**7, random_state=1).fit(j, nulls="nulls")
        during = len(ticks) - before
    finally:
        done.set()
        t.join()
        sys.setswitchinterval(interval)
    assert during > 200


def test_ctrl_c_interrupts_a_fit():
    code = ("import sys, touchlane\n"
            "j = touchlane.journeys_sample()\n"
            "print('fitting', flush=True)\n"
            "try:\n"
            f"    {LONG_FIT}\n"
            "except KeyboardInterrupt:\n"
            "    print('interrupted', flush=True); sys.exit(3)\n")
    p = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True,
                         cwd=os.path.dirname(__file__))
    try:
        assert p.stdout.readline().strip() == "fitting"
        threading.Event().wait(2)   # well inside the native fit by then
        p.send_signal(signal.SIGINT)
        out, _ = p.communicate(timeout=120)
    finally:
        if p.poll() is None:
            p.kill()
    assert p.returncode == 3 and "interrupted" in out


def test_progress_goes_to_logging(caplog):
    with caplog.at_level("INFO", logger="touchlane"):
        m = touchlane.Markov(method="simulation", simulations=20000, random_state=1).fit(touchlane.journeys_sample())
    assert any(r.getMessage().startswith("Number of simulations: ") for r in caplog.records)
    assert m.summary_["simulated_journeys"] >= 20000
