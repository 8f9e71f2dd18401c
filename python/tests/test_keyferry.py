"""The Python package against a real receiver in keyferry-host."""

import time

import mido
import pytest

import keyferry


def wait_for(receiver, count, timeout=5.0):
    deadline = time.monotonic() + timeout
    while len(receiver.events) < count and time.monotonic() < deadline:
        time.sleep(0.01)
    return receiver.events


def test_receivers_lists_the_nine_with_the_hosted_one_held(receiver):
    listed = keyferry.receivers()
    assert [r.number for r in listed] == list(range(1, 10))
    assert [r.held for r in listed] == [r.number == receiver.number for r in listed]
    assert listed[receiver.number - 1].name == "Receiver" and len(listed[receiver.number - 1].id) == 32


def test_send_takes_bytes_lists_and_mido_messages(receiver):
    with keyferry.open(receiver.number) as link:
        link.send(bytes([0x90, 60, 100]))
        link.send([0x80, 60, 0], at=10)
        link.send(mido.Message("control_change", channel=1, control=7, value=90))
        assert link.current
    events = wait_for(receiver, 3)
    assert sorted(text for _, text in events) == ["Controller Volume (coarse): 90 Channel 2", "Note off C3 Velocity 0 Channel 1",
                                                  "Note on C3 Velocity 100 Channel 1"]


@pytest.mark.parametrize("message", [[0x90, 60], [0x90, 60, 100, 0x80, 60, 0], [], [0xF0] + [1] * 300, "note"])
def test_what_is_not_one_message_is_refused_and_nothing_sent(receiver, message):
    with keyferry.open(receiver.number) as link:
        with pytest.raises(keyferry.BadMessage):
            link.send(message)
        assert keyferry.receivers()[receiver.number - 1].unread_bytes == 0


def test_errors_say_what_is_wrong(receiver):
    other = 2 if receiver.number == 1 else 1
    with pytest.raises(keyferry.ReceiverNotHeld, match="no receiver holds that slot"):
        keyferry.open(other)
    with pytest.raises(ValueError):
        keyferry.open(10)
    with pytest.raises(keyferry.NoReceivers, match="load Keyferry Receiver in a host first"):
        keyferry.receivers("/nonexistent/receivers.dat")


def test_panic_silences_all_sixteen_channels(receiver):
    with keyferry.open(receiver.number) as link:
        link.panic()
    events = wait_for(receiver, 32)
    assert sum(1 for _, text in events if text.startswith("All notes off")) == 16


def test_scheduler_places_events_on_their_exact_samples(receiver):
    with keyferry.open(receiver.number) as link:
        scheduler = link.scheduler(latency=0.05)
        for beat in range(4):
            scheduler.add(beat * 0.25, [0x90, 60 + beat, 100])
        scheduler.start()
        assert scheduler.mode == keyferry.Scheduler.TIMED
        scheduler.run()
        events = wait_for(receiver, 4)
        assert scheduler.late_events == 0
    times = [round(t * 48000) for t, _ in events]
    assert [b - a for a, b in zip(times, times[1:])] == [12000, 12000, 12000]


def latest_clock(link, timeout=5.0):
    deadline = time.monotonic() + timeout
    while (clock := link.clock()) is None and time.monotonic() < deadline:
        time.sleep(0.01)
    return clock


@pytest.mark.parametrize("receiver", [["--tempo=120"]], indirect=True)
def test_clock_says_where_the_block_sat_and_what_the_transport_said(receiver):
    with keyferry.open(receiver.number) as link:
        clock = latest_clock(link)
        assert clock is not None
        assert (clock.block_length, clock.sample_rate, clock.sample_count % 256) == (256, 48000.0, 0)
        assert abs(time.monotonic_ns() - clock.block_start_ns) < 2_000_000_000
        assert clock.has_play_head and clock.playing
        assert (clock.tempo, clock.time_signature) == (120.0, (4, 4))
        assert clock.ppq_position == pytest.approx(clock.host_sample_position / 48000 * 2)


def test_clock_without_a_transport_says_so_and_ends_with_the_claim(receiver):
    with keyferry.open(receiver.number) as link:
        clock = latest_clock(link)
        # The host's VST3 hosting layer gives a play head with its sample position even then.
        assert clock is not None and not clock.playing
        assert (clock.tempo, clock.ppq_position, clock.time_signature) == (None,) * 3
        receiver.stop()
        with pytest.raises((keyferry.ReceiverChanged, keyferry.ReceiverNotHeld)):
            link.clock()


def test_a_closed_link_refuses_instead_of_crashing(receiver):
    link = keyferry.open(receiver.number)
    scheduler = link.scheduler()
    link.close()
    with pytest.raises(ValueError):
        link.send([0x90, 60, 100])
    assert scheduler.finished  # closed with its link
