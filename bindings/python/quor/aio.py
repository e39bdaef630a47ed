"""Quor on asyncio: the thread's Quor loop runs inside the asyncio loop (its descriptor through add_reader)."""

from __future__ import annotations

import asyncio
from typing import Any, Dict, Optional

from . import Dialer as _SyncDialer
from . import QuorError, _check, _raise_pending
from ._lib import lib as _c

_attached: Dict[int, int] = {}  # id(asyncio loop) -> number of dialers using it


def _attach(loop: asyncio.AbstractEventLoop) -> None:
    key = id(loop)
    if _attached.get(key, 0) == 0:
        fd = _c.quor_loop_fd()
        if fd < 0:
            raise QuorError(-13, "this platform's Quor loop has no descriptor (on Windows quor.aio is not available: "
                            "run a Dialer in a thread of its own with quor.run, see the package's README)")
        loop.add_reader(fd, _dispatch)
    _attached[key] = _attached.get(key, 0) + 1


def _detach(loop: asyncio.AbstractEventLoop) -> None:
    key = id(loop)
    _attached[key] -= 1
    if _attached[key] == 0:
        del _attached[key]
        loop.remove_reader(_c.quor_loop_fd())


def _dispatch() -> None:
    _c.quor_loop_dispatch()


class Dialer(_SyncDialer):
    """A Dialer whose events arrive in the running asyncio loop. `await connect()` resolves on connect and
    raises QuorError with RAS's error when the dial fails; `async with` hangs up and frees on exit."""

    def __init__(self, entry: Optional[str] = None, **settings: Any) -> None:
        self._loop: Optional[asyncio.AbstractEventLoop] = None
        self._waiter: Optional["asyncio.Future[int]"] = None
        super().__init__(entry, **settings)
        self._loop = asyncio.get_running_loop()
        _attach(self._loop)

    def _connected(self) -> None:
        super()._connected()
        if self._waiter is not None and not self._waiter.done():
            self._waiter.set_result(self._rashandle)

    def _connect_failed(self, error: int, text: str) -> None:
        super()._connect_failed(error, text)
        if self._waiter is not None and not self._waiter.done():
            self._waiter.set_exception(QuorError(error, text))

    async def connect(self) -> int:  # type: ignore[override]
        """Dials and waits: returns RAS's connection handle once connected."""
        assert self._loop is not None
        self._waiter = self._loop.create_future()
        try:
            self._rashandle = super().connect()
            _raise_pending()
            return await self._waiter
        finally:
            self._waiter = None
            _raise_pending()

    async def hangup(self) -> None:  # type: ignore[override]
        super().hangup()

    def close(self) -> None:
        super().close()
        if getattr(self, "_loop", None) is not None:
            loop, self._loop = self._loop, None
            _detach(loop)

    async def __aenter__(self) -> "Dialer":
        return self

    async def __aexit__(self, *exc: Any) -> None:
        try:
            if not self.closed:
                _check(_c.quor_hang_up(self._handle()))
        finally:
            self.close()
