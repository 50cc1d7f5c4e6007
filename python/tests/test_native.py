"""Long native runs: other Python threads keep running meanwhile (the GIL
is released), and Ctrl-C stops them."""
import os
import signal
import subprocess
import sys
import threading

import touchlane

LONG_FIT = ("touchlane.Markov(simulations=10**6, tolerance=1e-9, growth=1.01)"
            ".fit(touchlane.journeys_sample(), nulls='nulls')")


def test_other_threads_run_during_a_fit():
    fitting = threading.Event()
    done = threading.Event()
    ticks = []

    def count():
        while not done.is_set():
            if fitting.is_set():
                ticks.append(1)

    t = threading.Thread(target=count)
    t.start()
    try:
        fitting.set()
        touchlane.Markov(simulations=400000, random_state=1).fit(touchlane.journeys_sample(),
                                                                 nulls="nulls")
        fitting.clear()
    finally:
        done.set()
        t.join()
    # holding the GIL through the fit would leave the counter a few ticks
    # from before the native call at most
    assert len(ticks) > 10000


def test_ctrl_c_interrupts_a_fit():
    code = ("import sys, touchlane\n"
            "print('fitting', flush=True)\n"
            "try:\n"
            f"    {LONG_FIT}\n"
            "except KeyboardInterrupt:\n"
            "    print('interrupted', flush=True); sys.exit(3)\n")
    p = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True,
                         cwd=os.path.dirname(__file__))
    try:
        assert p.stdout.readline().strip() == "fitting"
        threading.Event().wait(2)   # let the fit start
        p.send_signal(signal.SIGINT)
        out, _ = p.communicate(timeout=120)
    finally:
        if p.poll() is None:
            p.kill()
    assert p.returncode == 3 and "interrupted" in out


def test_progress_goes_to_logging(caplog):
    with caplog.at_level("INFO", logger="touchlane"):
        m = touchlane.Markov(simulations=20000, random_state=1).fit(touchlane.journeys_sample())
    assert any(r.getMessage().startswith("Number of simulations: ") for r in caplog.records)
    assert m.summary_["simulated_journeys"] >= 20000
