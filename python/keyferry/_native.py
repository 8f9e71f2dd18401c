"""The ctypes bindings of libkeyferry (keyferry.h). Internal: use the package's own API."""

import ctypes
import ctypes.util
import os
import pathlib
import sys

KEYFERRY_OK = 0
NUM_SLOTS = 9


class Message(ctypes.Structure):
    _fields_ = [("sample_position", ctypes.c_int32), ("data", ctypes.POINTER(ctypes.c_uint8)), ("size", ctypes.c_size_t)]


class Clock(ctypes.Structure):
    """keyferry_clock."""
    _fields_ = [("struct_size", ctypes.c_uint32), ("flags", ctypes.c_uint32), ("block_start_nanos", ctypes.c_uint64),
                ("sample_count", ctypes.c_uint64), ("block_length", ctypes.c_uint32), ("time_signature", ctypes.c_uint32),
                ("sample_rate", ctypes.c_double), ("tempo", ctypes.c_double), ("ppq_position", ctypes.c_double),
                ("host_sample_position", ctypes.c_int64), ("late_messages", ctypes.c_uint64)]


CLOCK_HAS_PLAY_HEAD, CLOCK_PLAYING, CLOCK_TEMPO_KNOWN, CLOCK_PPQ_KNOWN = 1, 2, 4, 8
CLOCK_TIME_SIGNATURE_KNOWN, CLOCK_HOST_SAMPLE_KNOWN, CLOCK_TIMED_DELIVERY = 16, 32, 64
KEYFERRY_NO_CLOCK = 15


_NAMES = {"win32": "libkeyferry.dll", "darwin": "libkeyferry.1.dylib"}


def _candidates():
    """Where libkeyferry may be: KEYFERRY_LIBRARY, the loader's own search, the user's install."""
    if os.environ.get("KEYFERRY_LIBRARY"):
        yield os.environ["KEYFERRY_LIBRARY"]
    name = _NAMES.get(sys.platform, "libkeyferry.so.1")
    yield name
    yield str(pathlib.Path.home() / ".local" / ("bin" if sys.platform == "win32" else "lib") / name)
    found = ctypes.util.find_library("keyferry")
    if found:
        yield found
    for folder in pathlib.Path.home().joinpath(".local", "lib").glob("*-linux-gnu"):
        yield str(folder / "libkeyferry.so.1")


def _load():
    errors = []
    for candidate in _candidates():
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            errors.append(str(error))
    raise ImportError("keyferry: libkeyferry.so.1 not found (set KEYFERRY_LIBRARY, or install it with "
                      "scripts/install.sh): " + "; ".join(errors))


lib = _load()

_table_p = ctypes.c_void_p
_link_p = ctypes.c_void_p
_scheduler_p = ctypes.c_void_p
_bytes = ctypes.POINTER(ctypes.c_uint8)

_signatures = {
    "keyferry_describe": (ctypes.c_char_p, [ctypes.c_int]),
    "keyferry_version": (ctypes.c_char_p, []),
    "keyferry_open": (ctypes.c_int, [ctypes.c_char_p, ctypes.POINTER(_table_p), ctypes.c_char_p, ctypes.c_size_t]),
    "keyferry_close": (None, [_table_p]),
    "keyferry_slot_held": (ctypes.c_int, [_table_p, ctypes.c_int]),
    "keyferry_slot_id": (ctypes.c_int, [_table_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_size_t]),
    "keyferry_slot_name": (ctypes.c_int, [_table_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_size_t]),
    "keyferry_slot_unread_bytes": (ctypes.c_uint32, [_table_p, ctypes.c_int]),
    "keyferry_link_open": (ctypes.c_int, [_table_p, ctypes.c_int, ctypes.POINTER(_link_p)]),
    "keyferry_link_free": (None, [_link_p]),
    "keyferry_link_state": (ctypes.c_int, [_link_p]),
    "keyferry_send": (ctypes.c_int, [_link_p, ctypes.c_int32, _bytes, ctypes.c_size_t]),
    "keyferry_send_batch": (ctypes.c_int, [_link_p, ctypes.POINTER(Message), ctypes.c_size_t, ctypes.POINTER(ctypes.c_size_t)]),
    "keyferry_request_reset": (ctypes.c_int, [_link_p]),
    "keyferry_free_bytes": (ctypes.c_uint32, [_link_p]),
    "keyferry_link_clock": (ctypes.c_int, [_link_p, ctypes.POINTER(Clock)]),
    "keyferry_scheduler_new": (ctypes.c_int, [_link_p, ctypes.c_double, ctypes.POINTER(_scheduler_p)]),
    "keyferry_scheduler_free": (None, [_scheduler_p]),
    "keyferry_scheduler_add": (ctypes.c_int, [_scheduler_p, ctypes.c_double, _bytes, ctypes.c_size_t]),
    "keyferry_scheduler_start": (ctypes.c_int, [_scheduler_p, ctypes.c_double]),
    "keyferry_scheduler_start_following": (ctypes.c_int, [_scheduler_p, ctypes.c_double]),
    "keyferry_scheduler_mode": (ctypes.c_int, [_scheduler_p]),
    "keyferry_scheduler_pump": (ctypes.c_int, [_scheduler_p]),
    "keyferry_scheduler_seconds_until_next_write": (ctypes.c_double, [_scheduler_p]),
    "keyferry_scheduler_finished": (ctypes.c_int, [_scheduler_p]),
    "keyferry_scheduler_late_events": (ctypes.c_uint64, [_scheduler_p]),
}

for _name, (_result, _arguments) in _signatures.items():
    _function = getattr(lib, _name)
    _function.restype = _result
    _function.argtypes = _arguments


def describe(result: int) -> str:
    return lib.keyferry_describe(result).decode()


def as_bytes(data: bytes):
    """A ctypes view of the bytes, kept alive by the caller for the call."""
    return (ctypes.c_uint8 * len(data)).from_buffer_copy(data) if data else None
