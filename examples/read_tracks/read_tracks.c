/*
 * read_tracks - reads the magnetic stripe of the card in a reader and
 * prints its tracks.
 *
 * It shows the asynchronous way of calling the card-reader API from an
 * application that has its own event loop: the read is started with a
 * completion event, the event's descriptor (Q7M_GetEventFd) sits in the
 * program's poll() set beside whatever else the program watches (here:
 * standard input, so a key press cancels), and the result is fetched with
 * RDAX_GetResult once the descriptor polls readable.
 *
 *   read_tracks [DEVICE] [SECONDS]
 *
 * Put the card in first (a terminal application would wait for it with
 * RDAX_MonitorCardStatus or read on insertion with
 * RDAX_PrepareTransactionSetting; q7m-readcard does that).
 *
 * DEVICE: COM1..COM9 (serial reader), USB:SERIAL, or nothing / "USB" for
 * the first USB reader. SECONDS: how long the read may take (default 30);
 * after that it is cancelled.
 *
 * Exit status: 0 tracks read, 1 the read failed (its result is printed),
 * 2 usage error or no reader.
 */
#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "q7m/platform.h"
#include "q7m/rdax.h"

/* The result as a text for the log: its name where this program knows it. */
static const char* ResultName(uint32_t result) {
  switch (result) {
    case RDAX_OK:
      return "RDAX_OK";
    case RDAX_W_CANCELLED:
      return "RDAX_W_CANCELLED (cancelled)";
    case RDAX_E_PARAMETER:
      return "RDAX_E_PARAMETER";
    case RDAX_E_NO_DEVICE:
      return "RDAX_E_NO_DEVICE (no reader)";
    case RDAX_E_COMMUNICATION:
      return "RDAX_E_COMMUNICATION";
    case RDAX_E_BUSY:
      return "RDAX_E_BUSY (another operation runs)";
    case RDAX_E_RESTRICTED:
      return "RDAX_E_RESTRICTED (another session holds the reader)";
    case RDAX_F_SYSTEM:
      return "RDAX_F_SYSTEM";
    case RDAX_F_LINE:
      return "RDAX_F_LINE (line fault, or the operation is not offered)";
    case RDAX_F_NOT_CONNECTED:
      return "RDAX_F_NOT_CONNECTED";
    default:
      break;
  }
  if (result >= RDAX_W_TRACK_FIRST && result <= RDAX_W_TRACK_LAST) return "track not readable";
  switch (RDAX_SEVERITY(result)) {
    case RDAX_SEVERITY_WARNING:
      return "warning";
    case RDAX_SEVERITY_ERROR:
      return "error";
    case RDAX_SEVERITY_FATAL:
      return "fatal";
    default:
      return "success";
  }
}

static void PrintLastError(const char* what) {
  char text[256];
  uint32_t code = Q7M_GetLastError();
  if (Q7M_FormatMessage(code, text, sizeof text) == 0) text[0] = '\0';
  fprintf(stderr, "read_tracks: %s: error %u %s\n", what, (unsigned)code, text);
}

static void PrintTrack(int number, uint32_t result, uint8_t length, const uint8_t* data,
                       size_t capacity) {
  if (result != RDAX_OK) {
    printf("track %d: result 0x%08X %s\n", number, (unsigned)result, ResultName(result));
    return;
  }
  /* The length comes from the reader: never trust it past the area. */
  size_t n = length < capacity ? length : capacity;
  printf("track %d: %zu bytes: ", number, n);
  for (size_t i = 0; i < n; ++i) putchar(data[i] >= 0x20 && data[i] < 0x7F ? data[i] : '.');
  putchar('\n');
}

/* Waits for the completion event in the program's own loop. A key press
 * (a line on standard input) or the time limit cancels the read; the
 * library then ends it and signals the event all the same, so the loop
 * always ends with the event. Returns 0, or -1 when poll itself fails. */
static int WaitForCompletion(const RDAX* reader, int eventFd, int seconds) {
  struct pollfd fds[2] = {{.fd = eventFd, .events = POLLIN},
                          {.fd = STDIN_FILENO, .events = POLLIN}};
  nfds_t count = isatty(STDIN_FILENO) ? 2 : 1;
  int waitedMs = 0;
  int cancelled = 0;
  for (;;) {
    int ready = poll(fds, count, 1000);
    if (ready < 0) {
      if (errno == EINTR) continue;
      perror("read_tracks: poll");
      return -1;
    }
    if (fds[0].revents & POLLIN) return 0;
    if (ready == 0) waitedMs += 1000;
    int keyPressed = count > 1 && (fds[1].revents & (POLLIN | POLLHUP));
    if (keyPressed) count = 1; /* stop watching input after the first line */
    if (!cancelled && (keyPressed || waitedMs >= seconds * 1000)) {
      uint32_t rc = RDAX_Cancel(reader);
      printf("cancelling the read: 0x%08X %s\n", (unsigned)rc, ResultName(rc));
      cancelled = 1;
    }
  }
}

int main(int argc, char** argv) {
  if (argc > 3 || (argc > 1 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0))) {
    fprintf(stderr, "usage: read_tracks [DEVICE] [SECONDS]\n");
    return 2;
  }
  const char* device = argc > 1 && strcmp(argv[1], "USB") != 0 ? argv[1] : NULL;
  int seconds = argc > 2 ? atoi(argv[2]) : 30;
  if (seconds <= 0) seconds = 30;

  const RDAX* reader = RDAX_OpenDevice(device, NULL);
  if (reader == NULL) {
    PrintLastError(device != NULL ? device : "no USB reader");
    return 2;
  }
  printf("reader %s open; reading the tracks of the card inside\n",
         device != NULL ? device : "USB");

  /* Manual reset: the descriptor stays readable once the read has ended. */
  Q7M_HANDLE done = Q7M_CreateEvent(1, 0, NULL);
  int doneFd = done != NULL ? Q7M_GetEventFd(done) : -1;
  if (doneFd < 0) {
    PrintLastError("completion event");
    RDAX_CloseDevice(reader);
    return 2;
  }

  /* The record must stay valid until the event is signalled. */
  RDAX_TRACK_DATA tracks;
  memset(&tracks, 0, sizeof tracks);
  int status = 1;
  uint32_t started = RDAX_ReadMagTrack(reader, RDAX_TRACK_ALL, &tracks, done);
  if (started != RDAX_I_ASYNC_STARTED) {
    /* Refused at once (busy, restricted, bad argument): nothing runs. */
    printf("RDAX_ReadMagTrack refused: result 0x%08X %s\n", (unsigned)started, ResultName(started));
  } else if (WaitForCompletion(reader, doneFd, seconds) == 0) {
    uint32_t result = RDAX_GetResult(reader);
    printf("RDAX_ReadMagTrack: result 0x%08X %s\n", (unsigned)result, ResultName(result));
    int trackWarning = result >= RDAX_W_TRACK_FIRST && result <= RDAX_W_TRACK_LAST;
    if (result == RDAX_OK || trackWarning) {
      PrintTrack(1, tracks.result[0], tracks.length[0], tracks.track1, sizeof tracks.track1);
      PrintTrack(2, tracks.result[1], tracks.length[1], tracks.track2, sizeof tracks.track2);
      PrintTrack(3, tracks.result[2], tracks.length[2], tracks.track3, sizeof tracks.track3);
      status = result == RDAX_OK ? 0 : 1;
    }
  } else {
    /* poll failed: the read still uses the record and the event; stop it
     * and wait for its end before they go away. */
    RDAX_Cancel(reader);
    Q7M_WaitForSingleObject(done, Q7M_INFINITE);
  }

  RDAX_CloseDevice(reader);
  Q7M_CloseHandle(done);
  return status;
}
