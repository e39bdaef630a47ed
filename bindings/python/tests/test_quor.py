import asyncio

import pytest

import quor
import quor.aio
from conftest import Recorder, run_until

DIALING, CONNECTED, DISCONNECTING = "Dialing Office...", "Connected", "Disconnecting..."


def test_dial_delivers_every_event_and_hangs_up():
    with quor.Dialer("Office") as d:
        r = Recorder(d)
        assert d.connect() != 0
        assert r.events == []  # kept for the loop
        assert run_until(lambda: "connect" in r.kinds())
        assert r.of("notify")[0] == (0, DIALING)
        assert r.of("notify")[-1] == (0, CONNECTED)
        assert r.of("state_change")[-1] == (quor.CONNECTED, 0)
        assert r.kinds().index("connect") < len(r.kinds()) - 1  # connect, then the "Connected" notice
        assert d.status.connected and d.status.state_text == CONNECTED
        assert ("Office", d.connection_handle("Office")) in quor.connections()
        assert sorted(quor.entries()) == ["Auth", "Busy", "Drop", "Office"]
        d.hangup()
        quor.dispatch()
        assert r.of("notify")[-1] == (0, DISCONNECTING)
        assert "connect_fail" not in r.kinds()
    assert quor.connections() == []


def test_lost_line_is_a_disconnect():
    with quor.Dialer("Drop") as d:
        r = Recorder(d)
        d.connect()
        assert run_until(lambda: "disconnect" in r.kinds())
        assert r.of("disconnect")[0][1] == "Connection to server lost."


@pytest.mark.parametrize("entry,settings,errno", [("Busy", {}, 676), ("Auth", {"password": "wrong"}, 691)])
def test_failed_dial_reports_ras_error(entry, settings, errno):
    with quor.Dialer(entry, redial_attempts=0, **settings) as d:
        r = Recorder(d)
        d.connect()
        assert run_until(lambda: "connect_fail" in r.kinds())
        error, text = r.of("connect_fail")[0]
        assert error == errno and quor.error_text(errno) in text
        assert "connect" not in r.kinds()


@pytest.mark.parametrize("entry,settings,errno", [("Busy", {}, 676), ("Auth", {"password": "wrong"}, 691)])
def test_asyncio_connect_raises_ras_error(entry, settings, errno):
    async def main():
        async with quor.aio.Dialer(entry, redial_attempts=0, **settings) as d:
            with pytest.raises(quor.QuorError) as raised:
                await asyncio.wait_for(d.connect(), 30)
            return raised.value

    error = asyncio.run(main())
    assert error.errno == errno and error.text.find(quor.error_text(errno)) >= 0


def test_asyncio_connect_resolves_and_hangs_up_on_exit():
    async def main():
        async with quor.aio.Dialer("Auth", password="s3cret") as d:
            r = Recorder(d)
            handle = await asyncio.wait_for(d.connect(), 30)
            assert handle != 0 and d.status.connected
            assert quor.connections() == [("Auth", handle)]
            return r

    r = asyncio.run(main())
    assert r.kinds()[0] == "notify" and "connect" in r.kinds() and "state_change" in r.kinds()
    assert quor.connections() == []


def test_callback_exception_reaches_the_loop_call():
    with quor.Dialer("Office") as d:
        d.on_connect = lambda: 1 / 0
        d.connect()
        with pytest.raises(ZeroDivisionError):
            run_until(lambda: False)


@pytest.mark.parametrize("name,value,expected", [
    ("user", "x" * 300, -4),
    ("user", "jo\0e", -5),
    ("user", "jo\udcc3", -6),
    ("redial_pause", 61, -9),
    ("redial_attempts", 2**70, -9),
    ("user", 5, TypeError),
    ("redial_pause", "10", TypeError),
    ("device_name", "x", AttributeError),
    ("no_such_setting", 1, TypeError),
])
def test_bad_input_is_refused_and_keeps_the_old_value(name, value, expected):
    d = quor.Dialer("Office", user="joe")
    before = getattr(d, name, None)
    with pytest.raises(quor.QuorError if isinstance(expected, int) else expected) as raised:
        if name == "no_such_setting":
            quor.Dialer("Office", **{name: value})
        setattr(d, name, value)
    if isinstance(expected, int):
        assert raised.value.errno == expected and raised.value.text == quor.error_text(expected)
    assert getattr(d, name, None) == before
    d.close()
    with pytest.raises(quor.QuorError) as raised:
        d.connect()
    assert raised.value.errno == -2


def test_phonebook_operations():
    quor.set_dial_params("Office", user="joe", password="pw")
    quor.set_dial_params("Office", domain="CORP")
    assert quor.get_dial_params("Office")[:4] == ("joe", "pw", "", "CORP")
    quor.rename_entry("Office", "Work")
    with pytest.raises(quor.QuorError) as raised:
        quor.rename_entry("Busy", "Auth")  # a name in use
    assert raised.value.errno == 183
    quor.delete_entry("Drop")
    assert sorted(quor.entries()) == ["Auth", "Busy", "Work"]
    with pytest.raises(TypeError):
        quor.set_dial_params("Work", colour="red")
