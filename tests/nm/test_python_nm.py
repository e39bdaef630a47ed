"""The Python package against the rig's real NetworkManager (run inside tests/nm/rig.sh with
QUOR_RAS_BACKEND=networkmanager): a synchronous and an asyncio dial of the rig's Office profile, each hung up.
Real time, bounded waits."""

import asyncio

import quor
import quor.aio


def names():
    return [entry for entry, _ in quor.connections()]


def test_sync_dial_and_hang_up():
    with quor.Dialer("Office") as d:
        seen = []
        d.on_connect = lambda: seen.append("connect")
        d.on_connect_fail = lambda error, text: seen.append(("fail", error, text))
        d.connect()
        for _ in range(300):
            if seen:
                break
            quor.run(0.1)
        assert seen == ["connect"]
        assert d.status.connected and "Office" in names()
        d.hangup()
    assert "Office" not in names()


def test_asyncio_dial_and_hang_up():
    async def main():
        async with quor.aio.Dialer("Office") as d:
            handle = await asyncio.wait_for(d.connect(), 30)
            assert handle != 0 and d.status.connected and "Office" in names()

    asyncio.run(main())
    assert "Office" not in names()
