"""Send MIDI into Keyferry Receiver plug-ins, from Python.

Each Keyferry Receiver instance in a DAW holds one of nine receivers, numbered 1 to 9 as its
window shows. Open one and send it MIDI: the messages come out of the plug-in into its track.

    import keyferry

    for receiver in keyferry.receivers():
        print(receiver.number, receiver.held)

    with keyferry.open(1) as link:
        link.send([0x90, 60, 100])                  # bytes, a list of ints, or a mido.Message
        link.send(mido.Message("note_off", note=60), at=256)  # 256 samples into the next block
        link.panic()

To put events on their exact samples, schedule them on a timeline of your own:

    with keyferry.open(1) as link:
        scheduler = link.scheduler(latency=0.05)
        scheduler.add(0.0, [0x90, 60, 100])
        scheduler.add(0.5, [0x80, 60, 0])
        scheduler.run()                             # or scheduler.play(mido.MidiFile("song.mid"))

link.clock() says where the receiver's latest audio block sat and what the host's transport said.

Failures raise KeyferryError subclasses with the same words as the keyferry tool.
"""

import ctypes
import time
import weakref
from dataclasses import dataclass
from typing import Iterable, List, Optional, Sequence, Tuple, Union

from . import _native

__all__ = [
    "Receiver", "Link", "Clock", "Scheduler", "receivers", "open", "KeyferryError", "NoReceivers", "TableError",
    "ReceiverNotHeld", "ReceiverChanged", "RingFull", "BadMessage", "TransportError", "version",
]


class KeyferryError(Exception):
    """Something Keyferry refused; the message says what, as the keyferry tool would."""

    def __init__(self, result: int, detail: str = ""):
        self.result = result
        words = _native.describe(result)
        super().__init__(f"{words}: {detail}" if detail else words)


class NoReceivers(KeyferryError):
    """No table file: no Keyferry Receiver has run yet for this user. Load it in a host first."""


class TableError(KeyferryError):
    """The table file is of the wrong size, or cannot be opened or mapped."""


class ReceiverNotHeld(KeyferryError):
    """No plug-in holds that receiver (keyferry.receivers() shows which are held)."""


class ReceiverChanged(KeyferryError):
    """The receiver let its slot go since the link was made; open it again."""


class RingFull(KeyferryError):
    """The receiver has not read enough yet: try again after an audio block."""


class BadMessage(KeyferryError, ValueError):
    """Not one complete MIDI message of 1 to 256 bytes."""


class TransportError(KeyferryError):
    """Following the host's transport: it gives no tempo and position, or it stopped."""


_errors = {
    1: NoReceivers, 2: TableError, 3: TableError, 4: ReceiverNotHeld, 5: ReceiverNotHeld, 6: ReceiverChanged,
    7: BadMessage, 8: BadMessage, 9: BadMessage, 10: RingFull, 11: TransportError, 12: TransportError,
}


def _check(result: int, detail: str = "") -> None:
    if result != _native.KEYFERRY_OK:
        raise _errors.get(result, KeyferryError)(result, detail)


MessageLike = Union[bytes, bytearray, Sequence[int], "mido.Message"]  # noqa: F821


def _message_bytes(message: MessageLike) -> bytes:
    """The bytes of a message given as bytes, a list of ints or a mido.Message."""
    if hasattr(message, "bytes") and callable(message.bytes):
        return bytes(message.bytes())
    try:
        return bytes(message)
    except (TypeError, ValueError) as error:
        raise BadMessage(9, f"cannot read {message!r} as MIDI bytes") from error


def version() -> str:
    """The version of libkeyferry in use."""
    return _native.lib.keyferry_version().decode()


@dataclass(frozen=True)
class Receiver:
    """One of the nine receivers, as the table shows it now."""

    number: int        # 1 to 9, as the plug-in's window shows
    held: bool         # a plug-in holds it
    name: str
    id: str            # the identifier of its current (or last) claim
    unread_bytes: int  # bytes sent to it that it has not read yet


@dataclass(frozen=True)
class Clock:
    """Where the receiver's latest audio block sat, and what the host's transport said then.

    block_start_ns is on the clock of time.monotonic_ns(). What the host did not say is None."""

    block_start_ns: int         # when the block began
    sample_count: int           # samples the receiver processed under this claim before the block
    block_length: int           # samples
    sample_rate: float
    has_play_head: bool         # the host gave a transport at all
    playing: bool
    tempo: Optional[float]      # quarter notes per minute
    ppq_position: Optional[float]  # quarter notes at the block's first sample
    time_signature: Optional[Tuple[int, int]]  # (numerator, denominator)
    host_sample_position: Optional[int]
    timed_delivery: bool        # a peer asked for timed delivery
    late_messages: int          # timed delivery: messages that came after their sample

    @classmethod
    def _from_native(cls, native: "_native.Clock") -> "Clock":
        def known(flag: int, value):
            return value if native.flags & flag else None

        signature = (native.time_signature & 0xFFFF, native.time_signature >> 16)
        return cls(int(native.block_start_nanos), int(native.sample_count), int(native.block_length),
                   float(native.sample_rate), bool(native.flags & _native.CLOCK_HAS_PLAY_HEAD),
                   bool(native.flags & _native.CLOCK_PLAYING), known(_native.CLOCK_TEMPO_KNOWN, native.tempo),
                   known(_native.CLOCK_PPQ_KNOWN, native.ppq_position),
                   known(_native.CLOCK_TIME_SIGNATURE_KNOWN, signature),
                   known(_native.CLOCK_HOST_SAMPLE_KNOWN, int(native.host_sample_position)),
                   bool(native.flags & _native.CLOCK_TIMED_DELIVERY), int(native.late_messages))


class _Table:
    def __init__(self, path: Optional[str]):
        self.handle = ctypes.c_void_p()
        reason = ctypes.create_string_buffer(256)
        result = _native.lib.keyferry_open(path.encode() if path else None, ctypes.byref(self.handle), reason, len(reason))
        _check(result, reason.value.decode(errors="replace") if result in (2, 3) else "")

    def close(self) -> None:
        if self.handle:
            _native.lib.keyferry_close(self.handle)
            self.handle = ctypes.c_void_p()

    def receiver(self, slot: int) -> Receiver:
        text = ctypes.create_string_buffer(64)
        _native.lib.keyferry_slot_id(self.handle, slot, text, len(text))
        identifier = text.value.decode(errors="replace")
        _native.lib.keyferry_slot_name(self.handle, slot, text, len(text))
        return Receiver(slot + 1, bool(_native.lib.keyferry_slot_held(self.handle, slot)),
                        text.value.decode(errors="replace"), identifier,
                        int(_native.lib.keyferry_slot_unread_bytes(self.handle, slot)))


def receivers(table: Optional[str] = None) -> List[Receiver]:
    """The nine receivers. 'table' is another table file than the user's own."""
    opened = _Table(table)
    try:
        return [opened.receiver(slot) for slot in range(_native.NUM_SLOTS)]
    finally:
        opened.close()


class Link:
    """A link to the receiver that holds a number now. Close it, or use it in a with block."""

    def __init__(self, number: int, table: Optional[str] = None):
        if not isinstance(number, int) or not 1 <= number <= _native.NUM_SLOTS:
            raise ValueError(f"a receiver is a number from 1 to 9, got {number!r}")
        self.number = number
        self._handle = ctypes.c_void_p()
        self._schedulers = weakref.WeakSet()
        self._table = _Table(table)
        try:
            _check(_native.lib.keyferry_link_open(self._table.handle, number - 1, ctypes.byref(self._handle)),
                   f"receiver {number}")
        except KeyferryError:
            self._table.close()
            raise

    def send(self, message: MessageLike, at: int = 0) -> None:
        """Sends one complete MIDI message, at sample 'at' of the receiver's next audio block."""
        data = _message_bytes(message)
        _check(_native.lib.keyferry_send(self._live(), at, _native.as_bytes(data), len(data)))

    def send_many(self, messages: Iterable[MessageLike], at: int = 0) -> int:
        """Sends messages in one go, all at sample 'at'; returns how many went in before a refusal."""
        payloads = [_message_bytes(message) for message in messages]
        buffers = [_native.as_bytes(data) for data in payloads]
        batch = (_native.Message * len(payloads))(*[
            _native.Message(at, ctypes.cast(buffer, ctypes.POINTER(ctypes.c_uint8)), len(data))
            for buffer, data in zip(buffers, payloads)])
        accepted = ctypes.c_size_t()
        result = _native.lib.keyferry_send_batch(self._live(), batch, len(payloads), ctypes.byref(accepted))
        if result != _native.KEYFERRY_OK and accepted.value == 0:
            _check(result)
        return accepted.value

    def panic(self) -> None:
        """Asks the receiver to silence all notes."""
        _check(_native.lib.keyferry_request_reset(self._live()))

    @property
    def free_bytes(self) -> int:
        """Bytes the receiver's ring can take now."""
        return int(_native.lib.keyferry_free_bytes(self._live()))

    def clock(self) -> Optional[Clock]:
        """The receiver's latest block clock, or None where it publishes none (yet). Raises
        ReceiverChanged or ReceiverNotHeld once the receiver has let its slot go."""
        native = _native.Clock(struct_size=ctypes.sizeof(_native.Clock))
        result = _native.lib.keyferry_link_clock(self._live(), ctypes.byref(native))
        if result == _native.KEYFERRY_NO_CLOCK:
            return None
        _check(result)
        return Clock._from_native(native)

    @property
    def current(self) -> bool:
        """Whether the receiver still holds its slot under the claim this link was made for."""
        return bool(self._handle) and _native.lib.keyferry_link_state(self._handle) == _native.KEYFERRY_OK

    def scheduler(self, latency: float = 0.1) -> "Scheduler":
        """A scheduler whose timeline's time 0 plays 'latency' seconds after it starts."""
        return Scheduler(self, latency)

    def close(self) -> None:
        """Closes the link, and the schedulers made from it."""
        for scheduler in list(getattr(self, "_schedulers", ())):
            scheduler.close()
        if getattr(self, "_handle", None):
            _native.lib.keyferry_link_free(self._handle)
            self._handle = ctypes.c_void_p()
        if hasattr(self, "_table"):
            self._table.close()

    def _live(self):
        if not self._handle:
            raise ValueError("the link is closed")
        return self._handle

    def __enter__(self) -> "Link":
        return self

    def __exit__(self, *exception) -> None:
        self.close()

    def __del__(self):
        self.close()


def open(number: int, table: Optional[str] = None) -> Link:  # noqa: A001 (as a file is opened)
    """Links to receiver 'number' (1-9). Raises NoReceivers, ReceiverNotHeld or TableError."""
    return Link(number, table)


class Scheduler:
    """Events on a timeline, each placed on its exact sample in the receiver's track.

    add() events at seconds (or, after start_following(), at quarter notes on the host's
    timeline), start(), then pump() as they fall due, or let run() do it."""

    TIMED, AS_DUE, FOLLOWING = 1, 2, 3

    def __init__(self, link: Link, latency: float = 0.1):
        self._link = link  # the scheduler writes through it: keep it alive
        self._handle = ctypes.c_void_p()
        _check(_native.lib.keyferry_scheduler_new(link._live(), latency, ctypes.byref(self._handle)))
        link._schedulers.add(self)

    def add(self, time_: float, message: MessageLike) -> None:
        """Queues a message at 'time_' on the timeline; order of adding does not matter."""
        data = _message_bytes(message)
        _check(_native.lib.keyferry_scheduler_add(self._handle, time_, _native.as_bytes(data), len(data)))

    def start(self, patience: float = 1.0) -> None:
        """Starts the timeline: timed if the receiver answers within 'patience' seconds, else as due."""
        _check(_native.lib.keyferry_scheduler_start(self._handle, patience))

    def start_following(self, patience: float = 60.0) -> None:
        """Waits for the host's transport to play and starts at its next bar; times are quarter notes."""
        _check(_native.lib.keyferry_scheduler_start_following(self._handle, patience))

    @property
    def mode(self) -> int:
        """Scheduler.TIMED, AS_DUE (the receiver publishes no clock) or FOLLOWING."""
        return int(_native.lib.keyferry_scheduler_mode(self._handle))

    @property
    def finished(self) -> bool:
        return bool(_native.lib.keyferry_scheduler_finished(self._handle))

    @property
    def late_events(self) -> int:
        """Events that came out after their time."""
        return int(_native.lib.keyferry_scheduler_late_events(self._handle))

    def pump(self) -> bool:
        """Writes what is due; False while the receiver's ring is full. Raises on other failures."""
        result = _native.lib.keyferry_scheduler_pump(self._handle)
        if result == 10:
            return False
        _check(result)
        return True

    def run(self) -> None:
        """Starts the timeline if start() has not, then pumps until every event is written."""
        if self.mode == 0:
            self.start()
        while not self.finished:
            self.pump()
            time.sleep(min(max(_native.lib.keyferry_scheduler_seconds_until_next_write(self._handle), 0.001), 0.02))

    def play(self, midi_file: "mido.MidiFile", patience: float = 1.0) -> int:  # noqa: F821
        """Plays a mido.MidiFile (its tempo map applied): adds its events, starts and runs.
        Returns how many events it left out because no ring message can carry them (a system-
        exclusive message longer than 256 bytes, say)."""
        now, skipped = 0.0, 0
        for message in midi_file:
            now += message.time
            if not message.is_meta:
                try:
                    self.add(now, message)
                except BadMessage:
                    skipped += 1
        self.start(patience)
        self.run()
        return skipped

    def close(self) -> None:
        if getattr(self, "_handle", None):
            _native.lib.keyferry_scheduler_free(self._handle)
            self._handle = ctypes.c_void_p()

    def __enter__(self) -> "Scheduler":
        return self

    def __exit__(self, *exception) -> None:
        self.close()

    def __del__(self):
        self.close()
