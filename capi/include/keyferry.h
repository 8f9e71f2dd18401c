/* keyferry.h: the C interface of the Keyferry sender library, for C and for any language's
 * foreign-function interface. Sends MIDI into Keyferry Receiver plug-ins through their shared
 * table file, as the `keyferry` tool does.
 *
 * Every function returns a keyferry_result (keyferry_describe turns it into words) or a plain
 * value; none throws, none keeps a pointer it was given past the call. Handles are opaque and
 * made and freed by the library. A table must outlive the links made from it, and a link the
 * scheduler made from it.
 *
 * Threads: different handles may be used on different threads at once. One handle must not be
 * used by two threads at the same time, and one receiver should have one sending link at a time
 * (two peers writing one ring would overwrite each other). keyferry_describe, keyferry_version and
 * keyferry_version_number may be called from any thread at any time.
 */
#ifndef KEYFERRY_H
#define KEYFERRY_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && defined(KEYFERRY_BUILDING_SHARED)
 #define KEYFERRY_API __declspec(dllexport)
#elif defined(_WIN32) && defined(KEYFERRY_SHARED)
 #define KEYFERRY_API __declspec(dllimport)
#elif defined(__GNUC__)
 #define KEYFERRY_API __attribute__((visibility ("default")))
#else
 #define KEYFERRY_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define KEYFERRY_VERSION_MAJOR 1
#define KEYFERRY_VERSION_MINOR 0
#define KEYFERRY_VERSION_PATCH 0
#define KEYFERRY_VERSION_NUMBER (KEYFERRY_VERSION_MAJOR * 10000 + KEYFERRY_VERSION_MINOR * 100 + KEYFERRY_VERSION_PATCH)

typedef enum keyferry_result
{
    KEYFERRY_OK = 0,
    KEYFERRY_NO_RECEIVERS = 1,       /* no table file: no receiver has run yet */
    KEYFERRY_TABLE_WRONG_SIZE = 2,   /* something at the table's path that is not a table */
    KEYFERRY_TABLE_UNAVAILABLE = 3,  /* the table file could not be opened or mapped */
    KEYFERRY_SLOT_OUT_OF_RANGE = 4,  /* a slot index not 0 ... 8 */
    KEYFERRY_SLOT_NOT_HELD = 5,      /* no receiver holds the slot */
    KEYFERRY_RECEIVER_CHANGED = 6,   /* the slot was released and claimed again since the link was made */
    KEYFERRY_EMPTY_MESSAGE = 7,
    KEYFERRY_MESSAGE_TOO_LARGE = 8,  /* more than 256 bytes */
    KEYFERRY_NOT_ONE_MESSAGE = 9,    /* not exactly one complete MIDI message */
    KEYFERRY_RING_FULL = 10,         /* the receiver has not read enough yet: try again after a block */
    KEYFERRY_NO_TRANSPORT = 11,      /* following: the host gives no tempo and position, or did not play */
    KEYFERRY_TRANSPORT_STOPPED = 12, /* following: the host's transport stopped */
    KEYFERRY_INVALID_ARGUMENT = 13,  /* a null handle or pointer where one is needed */
    KEYFERRY_OUT_OF_MEMORY = 14,
    KEYFERRY_NO_CLOCK = 15           /* the receiver publishes no clock (for this claim) */
} keyferry_result;

/* Any thread. Words for a result, e.g. "ring full"; never null. */
KEYFERRY_API const char* keyferry_describe (keyferry_result result);

/* Any thread. The library's version, e.g. "1.0.0", and as KEYFERRY_VERSION_NUMBER. */
KEYFERRY_API const char* keyferry_version (void);
KEYFERRY_API int keyferry_version_number (void);

/* ---- The table ---------------------------------------------------------------------------- */

typedef struct keyferry_table keyferry_table;

#define KEYFERRY_NUM_SLOTS 9

/* Maps the table file: 'path' null for the user's own (where receivers put it). On failure
 * *table is null and, if 'reason' is not null, up to reason_size bytes of the system's words
 * for it are written there, zero-terminated. A peer never creates the file. */
KEYFERRY_API keyferry_result keyferry_open (const char* path, keyferry_table** table, char* reason, size_t reason_size);
KEYFERRY_API void keyferry_close (keyferry_table* table);

/* Slots 0 ... 8 (receiver numbers 1 ... 9). Whether a receiver holds the slot, its claim's
 * identifier and name (zero-terminated, cut to 'size' bytes), and the bytes it has not read. */
KEYFERRY_API int keyferry_slot_held (const keyferry_table* table, int slot);
KEYFERRY_API keyferry_result keyferry_slot_id (const keyferry_table* table, int slot, char* id, size_t size);
KEYFERRY_API keyferry_result keyferry_slot_name (const keyferry_table* table, int slot, char* name, size_t size);
KEYFERRY_API uint32_t keyferry_slot_unread_bytes (const keyferry_table* table, int slot);

/* ---- Links: one receiver's claim ---------------------------------------------------------- */

typedef struct keyferry_link keyferry_link;

/* Links to the receiver holding the slot now. Sends through the link fail with
 * KEYFERRY_RECEIVER_CHANGED once that receiver has let the slot go, even if another claims it. */
KEYFERRY_API keyferry_result keyferry_link_open (keyferry_table* table, int slot, keyferry_link** link);
KEYFERRY_API void keyferry_link_free (keyferry_link* link);

/* KEYFERRY_OK while the slot is held under the link's claim; else why not. */
KEYFERRY_API keyferry_result keyferry_link_state (const keyferry_link* link);
KEYFERRY_API int keyferry_link_slot (const keyferry_link* link);

/* One message: the sample offset in the receiver's next block, and one complete MIDI message. */
KEYFERRY_API keyferry_result keyferry_send (keyferry_link* link, int32_t sample_position, const uint8_t* data, size_t size);

/* Several messages, published together; stops at the first one refused. */
typedef struct keyferry_message
{
    int32_t sample_position;
    const uint8_t* data;
    size_t size;
} keyferry_message;

KEYFERRY_API keyferry_result keyferry_send_batch (keyferry_link* link, const keyferry_message* messages, size_t count, size_t* accepted);

/* Asks the receiver to silence all notes (all notes off and all sound off on 16 channels). */
KEYFERRY_API keyferry_result keyferry_request_reset (keyferry_link* link);

/* Bytes that could be written now: back-pressure, before KEYFERRY_RING_FULL. */
KEYFERRY_API uint32_t keyferry_free_bytes (const keyferry_link* link);

/* ---- The receiver's block clock (docs/CLOCKS.md) ----------------------------------------- */

#define KEYFERRY_CLOCK_HAS_PLAY_HEAD 1u
#define KEYFERRY_CLOCK_PLAYING 2u
#define KEYFERRY_CLOCK_TEMPO_KNOWN 4u
#define KEYFERRY_CLOCK_PPQ_KNOWN 8u
#define KEYFERRY_CLOCK_TIME_SIGNATURE_KNOWN 16u
#define KEYFERRY_CLOCK_HOST_SAMPLE_KNOWN 32u
#define KEYFERRY_CLOCK_TIMED_DELIVERY 64u

/* Where the receiver's latest audio block sat. Versioned by its size: set struct_size to
 * sizeof (keyferry_clock) before the call; later versions only add fields at the end. */
typedef struct keyferry_clock
{
    uint32_t struct_size;
    uint32_t flags;                  /* KEYFERRY_CLOCK_* */
    uint64_t block_start_nanos;      /* when the block began, on CLOCK_MONOTONIC */
    uint64_t sample_count;           /* samples the receiver processed under this claim before it */
    uint32_t block_length;
    uint32_t time_signature;         /* numerator | denominator << 16 */
    double sample_rate;
    double tempo;                    /* quarter notes per minute */
    double ppq_position;             /* quarter notes at the block's first sample */
    int64_t host_sample_position;
    uint64_t late_messages;          /* timed delivery: messages that came after their sample */
} keyferry_clock;

/* The link's receiver's latest block clock; KEYFERRY_NO_CLOCK where it publishes none (or has
 * processed no block under this claim yet), and KEYFERRY_RECEIVER_CHANGED or
 * KEYFERRY_SLOT_NOT_HELD once it has let the slot go. */
KEYFERRY_API keyferry_result keyferry_link_clock (keyferry_link* link, keyferry_clock* clock);

/* ---- The scheduler: events on their exact samples ----------------------------------------- */

typedef struct keyferry_scheduler keyferry_scheduler;

typedef enum keyferry_mode
{
    KEYFERRY_MODE_IDLE = 0,
    KEYFERRY_MODE_TIMED = 1,     /* each event on its exact sample */
    KEYFERRY_MODE_AS_DUE = 2,    /* the receiver publishes no clock: each event as it falls due */
    KEYFERRY_MODE_FOLLOWING = 3  /* timed, in quarter notes on the host's timeline */
} keyferry_mode;

/* A scheduler for the link's receiver; time 0 of its timeline plays 'latency_seconds' after start. */
KEYFERRY_API keyferry_result keyferry_scheduler_new (keyferry_link* link, double latency_seconds, keyferry_scheduler** scheduler);
KEYFERRY_API void keyferry_scheduler_free (keyferry_scheduler* scheduler);

/* Queues an event at 'time' (seconds; quarter notes when following). */
KEYFERRY_API keyferry_result keyferry_scheduler_add (keyferry_scheduler* scheduler, double time, const uint8_t* data, size_t size);

/* Starts: timed where the receiver answers within 'patience_seconds', else as due. Following,
 * it also waits (as long) for the host's transport to play and starts at the next bar. */
KEYFERRY_API keyferry_result keyferry_scheduler_start (keyferry_scheduler* scheduler, double patience_seconds);
KEYFERRY_API keyferry_result keyferry_scheduler_start_following (keyferry_scheduler* scheduler, double patience_seconds);
KEYFERRY_API keyferry_mode keyferry_scheduler_mode (const keyferry_scheduler* scheduler);

/* Writes what is due; call it again after keyferry_scheduler_seconds_until_next_write. */
KEYFERRY_API keyferry_result keyferry_scheduler_pump (keyferry_scheduler* scheduler);
KEYFERRY_API double keyferry_scheduler_seconds_until_next_write (const keyferry_scheduler* scheduler);
KEYFERRY_API int keyferry_scheduler_finished (const keyferry_scheduler* scheduler);
KEYFERRY_API uint64_t keyferry_scheduler_late_events (const keyferry_scheduler* scheduler);

#ifdef __cplusplus
}
#endif

#endif /* KEYFERRY_H */
