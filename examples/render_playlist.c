/* render_playlist.c: a playlist rendered on worker threads through the
 * handle API of synth.h. Each worker owns one instance and takes the next
 * song of the list until none is left; instances share nothing they write,
 * so the only lock is the one that hands out the songs. Each song plays once
 * for SECONDS and is written as render_synth writes it: raw 16-bit
 * little-endian mono at 44100 Hz, the tool's samples.
 *
 *   render_playlist ARCHIVE SECONDS LUMP OUT.raw [LUMP OUT.raw]...
 */
#include <errno.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tunecast/synth.h"
#include "tunecast/wad.h"

enum { rate_hz = 44100, block_frames = 1024, workers_max = 8 };

typedef struct {
  const char *lump_name;
  const void *lump; /* borrowed from the archive, only read */
  size_t size;
  const char *out_path;
  tc_status status; /* of loading the lump; TC_OK when it loaded */
  int write_errno;  /* non-zero when the output could not be written */
} song_job;

typedef struct {
  song_job *songs;
  size_t count;
  int64_t frames;
  pthread_mutex_t lock;
  size_t next; /* the next song to hand out, under lock */
} playlist;

typedef struct {
  playlist *list;
  tc_synth *synth; /* this worker's own: no lock needed around it */
  pthread_t thread;
} worker;

/* Writes frames of the loaded song, once, to out. Returns 0 when a write
 * failed. */
static int write_song(tc_synth *synth, FILE *out, int64_t frames) {
  int16_t samples[block_frames];
  uint8_t bytes[2 * block_frames];
  tc_synth_play(synth, 0); /* once, no loop */
  for (int64_t done = 0; done < frames; done += block_frames) {
    const size_t n = (size_t)(frames - done < block_frames ? frames - done : block_frames);
    tc_synth_render_s16(synth, samples, n);
    for (size_t k = 0; k < n; ++k) {
      bytes[2 * k] = (uint8_t)((uint16_t)samples[k] & 0xFF);
      bytes[2 * k + 1] = (uint8_t)((uint16_t)samples[k] >> 8);
    }
    if (fwrite(bytes, 2, n, out) != n) return 0;
  }
  return 1;
}

/* Renders one song with the worker's instance; the outcome goes into the
 * job, for the main thread to report once every worker is done. */
static void render_song(tc_synth *synth, song_job *job, int64_t frames) {
  job->status = tc_synth_load(synth, job->lump, job->size); /* copies the lump */
  if (job->status != TC_OK) return;
  /* "x" creates the file only if it is absent: then it is ours to remove
   * if writing fails; what was there already is written but never removed. */
  FILE *out = fopen(job->out_path, "wbx");
  const int created = out != NULL;
  if (out == NULL && errno == EEXIST) out = fopen(job->out_path, "wb");
  int written = out != NULL && write_song(synth, out, frames);
  if (out != NULL && fclose(out) != 0) written = 0;
  if (!written) {
    job->write_errno = errno != 0 ? errno : EIO;
    if (created) remove(job->out_path);
  }
}

static void *worker_run(void *arg) {
  worker *self = arg;
  playlist *list = self->list;
  for (;;) {
    pthread_mutex_lock(&list->lock);
    const size_t i = list->next;
    if (i < list->count) ++list->next;
    pthread_mutex_unlock(&list->lock);
    if (i >= list->count) return NULL;
    render_song(self->synth, &list->songs[i], list->frames);
  }
}

/* Runs the playlist on up to workers_max threads, each with its own
 * instance. Returns 0 after one line on stderr when not even one worker
 * could start. */
static int run_workers(playlist *list) {
  worker workers[workers_max];
  const size_t wanted = list->count < workers_max ? list->count : workers_max;
  size_t started = 0;
  for (; started < wanted; ++started) {
    workers[started].list = list;
    workers[started].synth = tc_synth_new();
    if (workers[started].synth == NULL) break;
    if (pthread_create(&workers[started].thread, NULL, worker_run, &workers[started]) != 0) {
      tc_synth_free(workers[started].synth);
      break;
    }
  }
  /* Fewer workers than wanted only take longer: the ones running share the
   * whole list. */
  for (size_t w = 0; w < started; ++w) {
    pthread_join(workers[w].thread, NULL);
    tc_synth_free(workers[w].synth);
  }
  if (started == 0) fprintf(stderr, "render_playlist: no thread could be started\n");
  return started > 0;
}

int main(int argc, char **argv) {
  if (argc < 5 || argc % 2 == 0) {
    fprintf(stderr,
            "render_playlist (tunecast %s)\n"
            "usage: render_playlist ARCHIVE SECONDS LUMP OUT.raw [LUMP OUT.raw]...\n",
            tc_version());
    return 2;
  }
  char *end = NULL;
  const double seconds = strtod(argv[2], &end);
  if (end == argv[2] || *end != '\0' || !(seconds >= 0.0 && seconds <= 3600.0)) {
    fprintf(stderr, "render_playlist: seconds from 0 to 3600\n");
    return 2;
  }

  wad_file *wad = wad_load(argv[1]); /* prints one [WAD] line */
  if (wad == NULL) return 1;
  playlist list = {.count = (size_t)(argc - 3) / 2,
                   .frames = (int64_t)(seconds * rate_hz), /* truncated, as the tool counts */
                   .next = 0};
  list.songs = calloc(list.count, sizeof *list.songs);
  if (list.songs == NULL) {
    fprintf(stderr, "render_playlist: out of memory\n");
    wad_free(wad);
    return 1;
  }
  /* Every lump is found before any thread starts: the workers only read
   * bytes the archive holds, and it stays loaded until they are done. */
  for (size_t i = 0; i < list.count; ++i) {
    song_job *job = &list.songs[i];
    job->lump_name = argv[3 + 2 * i];
    job->out_path = argv[4 + 2 * i];
    int32_t size = 0;
    job->lump = wad_get_data(wad, job->lump_name, &size);
    job->size = (size_t)size;
    if (job->lump == NULL) {
      fprintf(stderr, "render_playlist: no lump %s\n", job->lump_name);
      free(list.songs);
      wad_free(wad);
      return 1;
    }
  }

  int ran = pthread_mutex_init(&list.lock, NULL) == 0;
  if (ran) {
    ran = run_workers(&list);
    pthread_mutex_destroy(&list.lock);
  } else {
    fprintf(stderr, "render_playlist: cannot create the list's mutex\n");
  }
  /* One line for each song that was not written. */
  int ok = ran;
  for (size_t i = 0; ran && i < list.count; ++i) {
    const song_job *job = &list.songs[i];
    if (job->status != TC_OK) {
      fprintf(stderr, "render_playlist: %s: %s\n", job->lump_name, tc_status_text(job->status));
      ok = 0;
    } else if (job->write_errno != 0) {
      fprintf(stderr, "render_playlist: cannot write %s: %s\n", job->out_path,
              strerror(job->write_errno));
      ok = 0;
    }
  }
  free(list.songs);
  wad_free(wad);
  return ok ? 0 : 1;
}
