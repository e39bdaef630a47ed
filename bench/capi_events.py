#!/usr/bin/python3
"""A dial event's way from the RAS library to a Python callback of the quor package, beside a bare ctypes callback.

The simulated service's own dial events are held back; the script posts the RAS library's dial event message
(state Authenticate) to the window RasDial was given, in bursts, and each quor.dispatch() delivers them: the
component's handler and status text, the C interface's callbacks, the package's ctypes callbacks and the
Dialer's on_notify and on_state_change. The anchor is a Python function called from C through a ctypes callback
(libc's qsort calling its comparator), with nothing else around it. Times are this thread's CPU time, the best of
three rounds, in turn, twice; the clock of the library is virtual.

    QUOR_LIBRARY=build/release/bin/libquor.so.0 LD_LIBRARY_PATH=build/release/bin PYTHONPATH=bindings/python \\
        taskset -c 1 /usr/bin/python3 bench/capi_events.py

With QUOR_BENCH_SMOKE=1 it runs a few bursts only (ctest's capi_events_smoke): its checks, not its figures.
"""
import ctypes
import ctypes.util
import os
import shutil
import sys
import tempfile
import time

RASCS_AUTHENTICATE = 5
ANY_STATE = 0xFFFFFFFF
DEFAULT_DELAY = 0xFFFFFFFF
BURST = 100
BURSTS = 2 if os.environ.get("QUOR_BENCH_SMOKE") == "1" else 200  # the smoke run in ctest: does it work at all


class CallInfo(ctypes.Structure):
    """QuorRasSimCallInfo of RasSim/RasSimControl.h."""
    _fields_ = [("dwSize", ctypes.c_uint32), ("dwCount", ctypes.c_uint32), ("dwPhonebookKind", ctypes.c_uint32),
                ("szPhonebook", ctypes.c_char * 260), ("szName", ctypes.c_char * 257),
                ("szName2", ctypes.c_char * 257), ("dwNotifierType", ctypes.c_uint32),
                ("dwNotifier", ctypes.c_size_t), ("fExtensions", ctypes.c_uint32)]


def best_ns_per_item(body, items):
    best = None
    for _ in range(3):
        start = time.thread_time_ns()
        body()
        ns = (time.thread_time_ns() - start) / items
        best = ns if best is None else min(best, ns)
    return best


def main() -> int:
    folder = tempfile.mkdtemp(prefix="quor-py-bench-")
    try:
        with open(os.path.join(folder, "rasphone.pbk"), "w") as f:
            f.write("[Office]\nDEVICE=modem\nDevice=Sim Modem\nPhoneNumber=555-0100\n")
        os.environ["QUOR_RAS_PHONEBOOK"] = os.path.join(folder, "rasphone.pbk")
        os.environ["QUOR_RAS_CREDENTIALS"] = os.path.join(folder, "credentials.dat")
        os.environ["QUOR_RAS_STATE_DIR"] = os.path.join(folder, "state")
        os.mkdir(os.environ["QUOR_RAS_STATE_DIR"])
        import quor  # after the environment: the service reads it when it is loaded

        win32 = ctypes.CDLL("libquorwin32.so.0.2")
        win32.GetModuleHandleA.restype = ctypes.c_uint
        win32.GetProcAddress.restype = ctypes.c_void_p
        win32.GetProcAddress.argtypes = [ctypes.c_uint, ctypes.c_char_p]
        win32.PostMessageA.argtypes = [ctypes.c_uint, ctypes.c_uint, ctypes.c_size_t, ctypes.c_ssize_t]
        win32.RegisterWindowMessageA.restype = ctypes.c_uint

        quor.virtual_clock(True)
        counts = {"state": 0, "notify": 0}
        dialer = quor.Dialer("Office")

        def on_state(state: int, error: int) -> None:
            counts["state"] += 1

        def on_notify(error: int, text: str) -> None:
            counts["notify"] += 1

        dialer.on_state_change = on_state
        dialer.on_notify = on_notify
        ras = win32.GetModuleHandleA(b"rasapi32.dll")
        hold = ctypes.CFUNCTYPE(ctypes.c_uint32, ctypes.c_uint32, ctypes.c_uint32)(
            win32.GetProcAddress(ras, b"QuorRasSimSetStepDelay"))
        last_call = ctypes.CFUNCTYPE(ctypes.c_uint32, ctypes.c_char_p, ctypes.POINTER(CallInfo))(
            win32.GetProcAddress(ras, b"QuorRasSimLastCall"))
        hold(ANY_STATE, 1000000000)
        dialer.connect()
        quor.dispatch()
        info = CallInfo()
        info.dwSize = ctypes.sizeof(CallInfo)
        if last_call(b"RasDial", ctypes.byref(info)) != 0:
            print("capi_events: the dial did not start", file=sys.stderr)
            return 1
        wnd = info.dwNotifier
        counts.update(state=0, notify=0)  # not the "Dialing ..." notice of the connect
        msg = win32.RegisterWindowMessageA(b"RasDialEvent") or 0xCCCD
        post = win32.PostMessageA

        def quor_rounds() -> None:
            for _ in range(BURSTS):
                for _ in range(BURST):
                    post(wnd, msg, RASCS_AUTHENTICATE, 0)
                quor.dispatch()

        # The script's own share: the same posts as thread messages (no window, no event), and the dispatch.
        def post_rounds() -> None:
            for _ in range(BURSTS):
                for _ in range(BURST):
                    post(0, msg, RASCS_AUTHENTICATE, 0)
                quor.dispatch()

        # The anchor: qsort of the same number of calls' worth of integers calling a Python comparator.
        libc = ctypes.CDLL(ctypes.util.find_library("c"))
        compare_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int))
        calls = [0]

        def compare(a, b) -> int:
            calls[0] += 1
            return 0

        comparator = compare_type(compare)
        values = (ctypes.c_int * (BURSTS * BURST))()

        def anchor_rounds() -> None:
            calls[0] = 0
            libc.qsort(values, len(values), ctypes.sizeof(ctypes.c_int), comparator)

        anchor_rounds()
        anchor_items = calls[0]
        events = BURSTS * BURST
        quor_ns = anchor_ns = post_ns = None
        for _ in range(2):
            q = best_ns_per_item(quor_rounds, events)
            a = best_ns_per_item(anchor_rounds, anchor_items)
            p = best_ns_per_item(post_rounds, events)
            quor_ns = q if quor_ns is None else min(quor_ns, q)
            anchor_ns = a if anchor_ns is None else min(anchor_ns, a)
            post_ns = p if post_ns is None else min(post_ns, p)
        dialer.hangup()
        hold(ANY_STATE, DEFAULT_DELAY)
        dialer.close()
        if counts["state"] != 6 * events or counts["notify"] != 6 * events:
            print("capi_events: dial events were lost: %r of %d" % (counts, 6 * events), file=sys.stderr)
            return 1
        print("python_event_ns=%.0f (of which posting from Python %.0f) ctypes_callback_ns=%.0f "
              "x_ctypes_callback=%.1f (burst %d, %d events a round)"
              % (quor_ns, post_ns, anchor_ns, quor_ns / anchor_ns, BURST, events))
        return 0
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
