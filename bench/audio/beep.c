/* Plays a 440 Hz beep into a PulseAudio sink and prints the wall-clock moment (ms since 1970,
 * fractional) at which the sink plays its first sample, by the server's own latency report.
 *
 *   beep <sink> <ms before the beep> [beep ms = 300] [ms after = 500]
 *
 * Prints the moment, the latency it was read with, and a second estimate of the moment from the
 * latency after the beep was written (they differ when the tool itself was held up).
 *
 * The stream is kept running with silence at a low latency before the beep, so the beep's
 * moment is the moment of its write plus everything queued ahead of it (pa_simple_get_latency:
 * the stream's buffer and the sink's own latency), not whenever a player gets round to it. */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <pulse/error.h>
#include <pulse/simple.h>

#define RATE 16000
#define BLOCK_FRAMES 80 /* 5 ms */

static double wallMs(void) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

static int writeFrames(pa_simple* stream, const int16_t* frames, size_t count) {
    int error = 0;
    if (pa_simple_write(stream, frames, count * sizeof *frames, &error) < 0) {
        fprintf(stderr, "beep: write failed: %s\n", pa_strerror(error));
        return -1;
    }
    return 0;
}

static int writeSilence(pa_simple* stream, double ms) {
    static const int16_t zeros[BLOCK_FRAMES];
    for (double done = 0; done < ms; done += 1000.0 * BLOCK_FRAMES / RATE) {
        if (writeFrames(stream, zeros, BLOCK_FRAMES) < 0) return -1;
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: beep <sink> <ms before the beep> [beep ms] [ms after]\n");
        return 2;
    }
    const double before = atof(argv[2]);
    const double beepMs = argc > 3 ? atof(argv[3]) : 300;
    const double afterMs = argc > 4 ? atof(argv[4]) : 500;
    const pa_sample_spec spec = {PA_SAMPLE_S16LE, RATE, 1};
    /* About 10 ms queued: the write blocks until there is room, which paces the loop. */
    const uint32_t bytes10ms = RATE / 100 * 2;
    const pa_buffer_attr attr = {(uint32_t)-1, bytes10ms, 0, bytes10ms / 2, (uint32_t)-1};
    int error = 0;
    pa_simple* stream = pa_simple_new(NULL, "beep", PA_STREAM_PLAYBACK, argv[1], "beep", &spec, NULL, &attr, &error);
    if (stream == NULL) {
        fprintf(stderr, "beep: %s\n", pa_strerror(error));
        return 1;
    }
    if (writeSilence(stream, before) < 0) return 1;

    const size_t beepFrames = (size_t)(beepMs * RATE / 1000);
    int16_t* beep = malloc(beepFrames * sizeof *beep);
    for (size_t i = 0; i < beepFrames; ++i) beep[i] = (int16_t)lrint(12000 * sin(2 * M_PI * 440 * i / RATE));
    const double askedAt = wallMs();
    const pa_usec_t queued = pa_simple_get_latency(stream, &error);
    const double readAt = wallMs();
    if (queued == (pa_usec_t)-1) {
        fprintf(stderr, "beep: no latency: %s\n", pa_strerror(error));
        return 1;
    }
    if (writeFrames(stream, beep, beepFrames) < 0) return 1;
    /* The write returns once all but the last ~10 ms are queued: the beep's end plays after what
     * is queued then. A second estimate of its start, which differs from the first when this
     * process was held up between reading the latency and writing. */
    const pa_usec_t queuedAfter = pa_simple_get_latency(stream, &error);
    const double afterAt = wallMs();
    if (writeSilence(stream, afterMs) < 0) return 1;
    /* Not pa_simple_drain: on a null sink it waited 30 s. What is queued plays within ~20 ms. */
    usleep(100000);
    /* The latency holds for the moment it was read; the beep follows what was queued then. */
    printf("%.3f %.3f %.3f\n", (askedAt + readAt) / 2 + queued / 1000.0, queued / 1000.0,
           afterAt + queuedAfter / 1000.0 - beepMs);
    pa_simple_free(stream);
    free(beep);
    return 0;
}
