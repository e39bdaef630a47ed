"""Shared fixtures: a phonebook of the simulated service in a folder of the test's own, virtual time."""

import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

import quor  # noqa: E402

# Fast entries (no delays) so that the asyncio tests need no clock movement: every event is due at once and
# reaches the asyncio loop through the Quor loop's descriptor.
PHONEBOOK = """[Office]
DEVICE=modem
Device=Sim Modem
PhoneNumber=555-0100
QuorStepDelay=0
[Drop]
DEVICE=modem
Device=Sim Modem
PhoneNumber=555-0101
QuorDropAfter=5
[Busy]
DEVICE=modem
Device=Sim Modem
PhoneNumber=555-0102
QuorOutcome=busy
QuorStepDelay=0
QuorErrorDelay=0
[Auth]
DEVICE=vpn
Device=Sim VPN
PhoneNumber=vpn.example.org
QuorRequirePassword=s3cret
QuorStepDelay=0
QuorErrorDelay=0
"""


@pytest.fixture(autouse=True)
def phonebook(tmp_path, monkeypatch):
    (tmp_path / "rasphone.pbk").write_text(PHONEBOOK)
    monkeypatch.setenv("QUOR_RAS_PHONEBOOK", str(tmp_path / "rasphone.pbk"))
    monkeypatch.setenv("QUOR_RAS_CREDENTIALS", str(tmp_path / "credentials.dat"))
    monkeypatch.setenv("QUOR_RAS_STATE_DIR", str(tmp_path / "state"))
    quor.virtual_clock(True)
    yield tmp_path
    quor.virtual_clock(False)


class Recorder:
    """Every event of a dialer, in order, as (kind, arguments)."""

    def __init__(self, dialer):
        self.events = []
        for kind in ("notify", "state_change", "connect", "disconnect", "connect_fail"):
            setattr(dialer, "on_" + kind, lambda *a, kind=kind: self.events.append((kind,) + a))

    def kinds(self):
        return [e[0] for e in self.events]

    def of(self, kind):
        return [e[1:] for e in self.events if e[0] == kind]


def run_until(predicate, seconds=30.0, step=0.1):
    """Moves virtual time on in steps until predicate() holds."""
    waited = 0.0
    while not predicate() and waited < seconds:
        quor.run(step)
        waited += step
    return predicate()
