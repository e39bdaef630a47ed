"""Quor from Python: dial-up and VPN connections through Quor's C interface (libquor), pure ctypes.

A Dialer is one Quor dialler; it belongs to the thread that made it. Its events run as Python callables inside
run() (or, with quor.aio, inside the asyncio loop), on that thread.
"""

from __future__ import annotations

import ctypes
import weakref
from typing import Any, Callable, List, NamedTuple, Optional, Tuple

from . import _lib
from ._lib import lib as _c

__all__ = ["QuorError", "Dialer", "Status", "DialParams", "connections", "entries", "rename_entry", "delete_entry",
           "get_dial_params", "set_dial_params", "error_text", "version", "run", "dispatch", "virtual_clock"]

CONNECTED, DISCONNECTED = 8192, 8193
_TEXTS = {"entry": 1, "phone_number": 2, "callback_number": 3, "user": 4, "password": 5, "domain": 6,
          "device_name": 7, "device_type": 8}
_READ_ONLY_TEXTS = {"device_name", "device_type"}
# name: (number, is_boolean, read_only)
_NUMBERS = {"redial_attempts": (1, False, False), "redial_pause": (2, False, False),
            "synchronous_dial": (3, True, False), "minimize_dial_window": (4, True, False),
            "dial_timeout": (6, False, False), "reconnect": (7, True, False), "reconnect_holdoff": (8, False, False),
            "reconnect_max_fail": (9, False, False), "fast_hangup": (10, True, False),
            "watch_events": (11, True, False), "reconnect_pending": (12, True, True), "attempt": (13, False, True)}
_DIAL_PARAMS = ("user", "password", "phone_number", "domain", "callback_number")


def error_text(error: int) -> str:
    """RAS's text for a RAS error number, the interface's for its own (negative) codes."""
    return _c.quor_error_text(int(error)).decode("utf-8", "replace")


class QuorError(Exception):
    """A refused call or a failed dial: errno is RAS's error number (or the interface's negative code)."""

    def __init__(self, errno: int, text: Optional[str] = None) -> None:
        self.errno = int(errno)
        self.text = error_text(errno) if text is None else text
        super().__init__(self.errno, self.text)

    def __str__(self) -> str:
        return "[%d] %s" % (self.errno, self.text)


def _check(result: int) -> int:
    if result != 0:
        raise QuorError(result)
    return result


def _encode(value: str, what: str) -> bytes:
    if not isinstance(value, str):
        raise TypeError("%s must be a str, not %s" % (what, type(value).__name__))
    # Lone surrogates pass through so that the library refuses them as not representable.
    return value.encode("utf-8", "surrogatepass")


def version() -> str:
    return _c.quor_version().decode()


def run(timeout: float) -> None:
    """Runs the calling thread's Quor loop for timeout seconds (events are delivered inside)."""
    _check(_c.quor_loop_run(max(0, int(timeout * 1000))))
    _raise_pending()


def dispatch() -> None:
    """Runs whatever Quor work is due now and returns without waiting."""
    _check(_c.quor_loop_dispatch())
    _raise_pending()


def virtual_clock(on: bool) -> None:
    """Tests and demos: time stands still and run(t) moves it on by t at once."""
    _check(_c.quor_clock_virtual(1 if on else 0))


_pending: List[BaseException] = []  # exceptions raised by callbacks, raised again after the loop call


def _raise_pending() -> None:
    if _pending:
        error = _pending.pop(0)
        del _pending[:]
        raise error


class Status(NamedTuple):
    state: int
    error: int
    connected: bool
    connected_ms: int
    state_text: str
    ip_address: str


class DialParams(NamedTuple):
    user: str
    password: str
    phone_number: str
    domain: str
    callback_number: str


def _text_property(name: str) -> property:
    which = _TEXTS[name]

    def get(self: "Dialer") -> str:
        return self._get_text(which)

    def set(self: "Dialer", value: str) -> None:
        data = _encode(value, name)
        _check(_c.quor_set_text_n(self._handle(), which, data, len(data)))

    return property(get, None if name in _READ_ONLY_TEXTS else set)


def _number_property(name: str) -> property:
    which, boolean, read_only = _NUMBERS[name]

    def get(self: "Dialer") -> Any:
        value = ctypes.c_int64()
        _check(_c.quor_get_int(self._handle(), which, ctypes.byref(value)))
        return bool(value.value) if boolean else value.value

    def set(self: "Dialer", value: Any) -> None:
        if boolean:
            value = 1 if value else 0
        elif isinstance(value, bool) or not isinstance(value, int):
            raise TypeError("%s must be an int" % name)
        if not -(2**63) <= value < 2**63:
            raise QuorError(-9)
        _check(_c.quor_set_int(self._handle(), which, value))

    return property(get, None if read_only else set)


class _Settings(type):
    def __new__(mcs, name: str, bases: Tuple[type, ...], namespace: dict) -> type:
        for text in _TEXTS:
            namespace[text] = _text_property(text)
        for number in _NUMBERS:
            namespace[number] = _number_property(number)
        return super().__new__(mcs, name, bases, namespace)


class Dialer(metaclass=_Settings):
    """One Quor dialler. Settings are properties (entry, phone_number, callback_number, user, password, domain,
    redial_attempts, redial_pause, ..., see _TEXTS and _NUMBERS); keyword arguments set them at creation.

    Events: assign callables to on_notify(error, text), on_state_change(state, error), on_connect(),
    on_disconnect(error, text), on_connect_fail(error, text).
    """

    # The settings' properties are made by the metaclass; these annotations are for type checkers.
    entry: str
    phone_number: str
    callback_number: str
    user: str
    password: str
    domain: str
    device_name: str
    device_type: str
    redial_attempts: int
    redial_pause: int
    synchronous_dial: bool
    minimize_dial_window: bool
    dial_timeout: int
    reconnect: bool
    reconnect_holdoff: int
    reconnect_max_fail: int
    fast_hangup: bool
    watch_events: bool
    reconnect_pending: bool
    attempt: int

    def __init__(self, entry: Optional[str] = None, **settings: Any) -> None:
        self.on_notify: Optional[Callable[[int, str], Any]] = None
        self.on_state_change: Optional[Callable[[int, int], Any]] = None
        self.on_connect: Optional[Callable[[], Any]] = None
        self.on_disconnect: Optional[Callable[[int, str], Any]] = None
        self.on_connect_fail: Optional[Callable[[int, str], Any]] = None
        self._dialer: Optional[int] = None
        handle = ctypes.c_void_p()
        _check(_c.quor_dialer_new(ctypes.byref(handle)))
        self._dialer = handle.value
        me = weakref.ref(self)

        def call(name: str, *arguments: Any) -> None:
            target = me()
            handler = getattr(target, name, None) if target is not None else None
            if handler is None:
                return
            try:
                handler(*arguments)
            except BaseException as error:  # raised again by the loop call that delivered it
                _pending.append(error)

        def text(raw: Optional[bytes]) -> str:
            return (raw or b"").decode("utf-8", "replace")

        self._callbacks = (
            _lib.TEXT_EVENT(lambda u, d, error, t: call("_notify", error, text(t))),
            _lib.EVENT(lambda u, d: call("_connected")),
            _lib.TEXT_EVENT(lambda u, d, error, t: call("_disconnected", error, text(t))),
            _lib.TEXT_EVENT(lambda u, d, error, t: call("_connect_failed", error, text(t))),
            _lib.STATE_EVENT(lambda u, d, state, error: call("_state", state, error)),
        )
        h = self._dialer
        for register, fn in zip((_c.quor_on_notify, _c.quor_on_connect, _c.quor_on_disconnect,
                                 _c.quor_on_connect_fail, _c.quor_on_state_change), self._callbacks):
            _check(register(h, fn, None))
        try:
            if entry is not None:
                self.entry = entry
            for name, value in settings.items():
                if name == "redial_backoff":
                    self.redial_backoff = value
                elif name in _TEXTS or name in _NUMBERS:
                    setattr(self, name, value)
                else:
                    raise TypeError("Dialer has no setting %r" % name)
        except BaseException:
            self.close()
            raise

    # Events reach the user's callables through these, so subclasses can hook them.
    def _notify(self, error: int, text: str) -> None:
        if self.on_notify is not None:
            self.on_notify(error, text)

    def _state(self, state: int, error: int) -> None:
        if self.on_state_change is not None:
            self.on_state_change(state, error)

    def _connected(self) -> None:
        if self.on_connect is not None:
            self.on_connect()

    def _disconnected(self, error: int, text: str) -> None:
        if self.on_disconnect is not None:
            self.on_disconnect(error, text)

    def _connect_failed(self, error: int, text: str) -> None:
        if self.on_connect_fail is not None:
            self.on_connect_fail(error, text)

    def _handle(self) -> int:
        if self._dialer is None:
            raise QuorError(-2)
        return self._dialer

    def _get_text(self, which: int) -> str:
        length = ctypes.c_size_t()
        size = 64
        while True:
            buffer = ctypes.create_string_buffer(size)
            result = _c.quor_get_text(self._handle(), which, buffer, size, ctypes.byref(length))
            if result != -8:
                _check(result)
                return buffer.value.decode("utf-8")
            size = length.value + 1

    @property
    def redial_backoff(self) -> Tuple[float, int]:
        """(factor, max_seconds): the pause before redial n is redial_pause * factor**(n-1), at most max."""
        factor, ceiling = ctypes.c_double(), ctypes.c_uint32()
        _check(_c.quor_get_redial_backoff(self._handle(), ctypes.byref(factor), ctypes.byref(ceiling)))
        return factor.value, ceiling.value

    @redial_backoff.setter
    def redial_backoff(self, value: Tuple[float, int]) -> None:
        factor, ceiling = value
        if not 0 <= int(ceiling) < 2**32:
            raise QuorError(-9)
        _check(_c.quor_set_redial_backoff(self._handle(), float(factor), int(ceiling)))

    def connect(self) -> int:
        """Starts the dial; the progress arrives as events. Returns RAS's connection handle (0: the dial did not
        start, the reason arrives as a notice and connect-fail)."""
        handle = ctypes.c_uint64()
        _check(_c.quor_connect(self._handle(), ctypes.byref(handle)))
        return handle.value

    def hangup(self) -> None:
        """Hangs up the call and waits for RAS to finish the hang-up."""
        _check(_c.quor_hang_up(self._handle()))

    @property
    def status(self) -> Status:
        raw = _lib.Status()
        raw.size = ctypes.sizeof(raw)
        _check(_c.quor_get_status(self._handle(), ctypes.byref(raw)))
        return Status(raw.state, raw.error, bool(raw.connected), raw.connected_ms,
                      raw.state_text.decode("utf-8", "replace"), raw.ip_address.decode("ascii", "replace"))

    @property
    def connected(self) -> bool:
        return self.status.connected

    def connection_handle(self, entry: str) -> int:
        handle = ctypes.c_uint64()
        _check(_c.quor_connection_handle(self._handle(), _encode(entry, "entry"), ctypes.byref(handle)))
        return handle.value

    def load_dial_params(self, entry: Optional[str] = None) -> None:
        _check(_c.quor_load_dial_params(self._handle(), None if entry is None else _encode(entry, "entry")))

    def save_dial_params(self) -> None:
        _check(_c.quor_save_dial_params(self._handle()))

    def run(self, timeout: float) -> None:
        run(timeout)

    def close(self) -> None:
        """Frees the dialler (a call it still holds is hung up, no event delivered)."""
        if self._dialer is not None:
            handle, self._dialer = self._dialer, None
            _c.quor_dialer_free(handle)

    @property
    def closed(self) -> bool:
        return self._dialer is None

    def __enter__(self) -> "Dialer":
        return self

    def __exit__(self, *exc: Any) -> None:
        try:
            if self._dialer is not None:
                self.hangup()
        finally:
            self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass


def connections() -> List[Tuple[str, int]]:
    """The machine's active connections: (entry, RAS handle)."""
    found: List[Tuple[str, int]] = []
    fn = _lib.CONNECTION_FN(lambda u, entry, handle: found.append((entry.decode("utf-8"), handle)) or 0)
    with Dialer() as d:
        _check(_c.quor_enum_connections(d._handle(), fn, None))
    return found


def entries() -> List[str]:
    """The default phonebook's entries."""
    found: List[str] = []
    fn = _lib.ENTRY_FN(lambda u, entry: found.append(entry.decode("utf-8")) or 0)
    with Dialer() as d:
        _check(_c.quor_enum_entries(d._handle(), fn, None))
    return found


def rename_entry(old: str, new: str) -> None:
    with Dialer() as d:
        _check(_c.quor_rename_entry(d._handle(), _encode(old, "old"), _encode(new, "new")))


def delete_entry(entry: str) -> None:
    with Dialer() as d:
        _check(_c.quor_delete_entry(d._handle(), _encode(entry, "entry")))


def get_dial_params(entry: str) -> DialParams:
    with Dialer() as d:
        d.load_dial_params(entry)
        return DialParams(*(getattr(d, name) for name in _DIAL_PARAMS))


def set_dial_params(entry: str, **values: str) -> None:
    """Stores the given dial parameters of the entry (user, password, phone_number, domain, callback_number);
    the others keep their stored values."""
    unknown = set(values) - set(_DIAL_PARAMS)
    if unknown:
        raise TypeError("not a dial parameter: %s" % ", ".join(sorted(unknown)))
    with Dialer() as d:
        d.load_dial_params(entry)
        for name, value in values.items():
            setattr(d, name, value)
        d.save_dial_params()
