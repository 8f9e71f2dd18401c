/* Plays a middle C for half a second on a receiver, each event on its exact sample.
 *     send_note [RECEIVER]          RECEIVER is 1-9, default 1
 * Exit status: 0 played, 1 refused (the reason is printed). */
#define _POSIX_C_SOURCE 199309L /* nanosleep */

#include <keyferry.h>

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static int fail (keyferry_result result)
{
    fprintf (stderr, "send_note: %s\n", keyferry_describe (result));
    return 1;
}

int main (int argc, char** argv)
{
    const int slot = (argc > 1 ? atoi (argv[1]) : 1) - 1;
    const uint8_t note_on[] = { 0x90, 60, 100 }, note_off[] = { 0x80, 60, 0 };
    char reason[256];
    keyferry_table* table = NULL;
    keyferry_link* link = NULL;
    keyferry_scheduler* scheduler = NULL;
    keyferry_result result = keyferry_open (NULL, &table, reason, sizeof reason);

    if (result != KEYFERRY_OK)
        return fail (result);
    if ((result = keyferry_link_open (table, slot, &link)) != KEYFERRY_OK
        || (result = keyferry_scheduler_new (link, 0.05, &scheduler)) != KEYFERRY_OK
        || (result = keyferry_scheduler_add (scheduler, 0.0, note_on, sizeof note_on)) != KEYFERRY_OK
        || (result = keyferry_scheduler_add (scheduler, 0.5, note_off, sizeof note_off)) != KEYFERRY_OK
        || (result = keyferry_scheduler_start (scheduler, 1.0)) != KEYFERRY_OK)
        goto done;

    while (! keyferry_scheduler_finished (scheduler))
    {
        result = keyferry_scheduler_pump (scheduler);
        if (result != KEYFERRY_OK && result != KEYFERRY_RING_FULL)
            goto done;
        const double wait = keyferry_scheduler_seconds_until_next_write (scheduler);
        const struct timespec pause = { 0, (long) ((wait > 0.001 ? (wait < 0.02 ? wait : 0.02) : 0.001) * 1e9) };
        nanosleep (&pause, NULL);
    }
    result = KEYFERRY_OK;
    printf ("played on receiver %d (%s)\n", slot + 1, keyferry_scheduler_mode (scheduler) == KEYFERRY_MODE_AS_DUE ? "as due" : "timed");

done:
    keyferry_scheduler_free (scheduler);
    keyferry_link_free (link);
    keyferry_close (table);
    return result == KEYFERRY_OK ? 0 : fail (result);
}
