/* minimal-host: the least a terminal host does to drive lumivane-viewer.
 *
 *   minimal-host NAME SOURCE IDENTIFIER VIEWER [ARGS...]
 *
 * Creates the 4096-byte control block NAME, writes the image information (SOURCE, pattern
 * "****": the first four characters of an identifier name its sub-folder), starts
 * "VIEWER NAME IDENTIFIER ARGS..." (the viewer searches a start-up identifier each time
 * its window comes up), beats the host heartbeat every 100 ms, waits until the viewer
 * shows an image, hides it and shows it again, then closes the viewer and removes the
 * block. Exit status 0 when the viewer did all that as asked. Builds with any C99 compiler on
 * Linux (cc minimal-host.c) and with MinGW-w64 for Windows. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
extern char** environ;
#endif

enum { BLOCK_SIZE = 4096 };
/* Offsets of the block's fields (docs/protocol.md, "The block"). */
enum { COMMAND = 0, HOST_BEAT = 4, VIEWER_BEAT = 5, VIEW_STATE = 16, SEARCH = 32, INFO = 97,
       CONSOLE_ID = 2404, TITLE_FORMAT = 2407, CONNECTION = 2921 };
enum { VC_OPEN = 1, VC_CLOSE = 2, VC_HIDE = 3, VC_HANDLED = 4 };
enum { VS_CLOSED = 1, VS_OPEN = 4 };

static volatile unsigned char* block;

/* A string into its fixed slot: UTF-8, cut to fit, always NUL-terminated. (The cut here
 * is by bytes; a host with non-ASCII text cuts at a character boundary.) */
static void put_string(size_t offset, size_t slot, const char* text) {
    size_t n = strlen(text);
    if (n > slot - 1)
        n = slot - 1;
    for (size_t i = 0; i < n; ++i)
        block[offset + i] = (unsigned char)text[i];
    block[offset + n] = 0;
}

#ifdef _WIN32
static HANDLE mapping;
static PROCESS_INFORMATION viewer;
static int create_block(const char* name) {
    /* Default security: the viewer runs as the same user in the same session. */
    mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, BLOCK_SIZE, name);
    if (!mapping)
        return -1;
    block = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, BLOCK_SIZE);
    return block ? 0 : -1;
}
static void remove_block(const char* name) {
    (void)name; /* the mapping goes with its last handle */
    UnmapViewOfFile((void*)block);
    CloseHandle(mapping);
}
static int start_viewer(char** argv) {
    char line[4096] = "";
    STARTUPINFOA si;
    memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    for (int i = 0; argv[i]; ++i) {
        strncat(line, "\"", sizeof line - strlen(line) - 1);
        strncat(line, argv[i], sizeof line - strlen(line) - 1);
        strncat(line, "\" ", sizeof line - strlen(line) - 1);
    }
    return CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &viewer) ? 0 : -1;
}
static int viewer_running(void) { return WaitForSingleObject(viewer.hProcess, 0) == WAIT_TIMEOUT; }
static void sleep_ms(int ms) { Sleep((DWORD)ms); }
#else
static pid_t viewer;
static int create_block(const char* name) {
    char path[256];
    snprintf(path, sizeof path, "/%s", name); /* the object /dev/shm/NAME */
    int fd = shm_open(path, O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, BLOCK_SIZE) != 0)
        return -1;
    void* p = mmap(NULL, BLOCK_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    block = p == MAP_FAILED ? NULL : p;
    return block ? 0 : -1;
}
static void remove_block(const char* name) {
    char path[256];
    snprintf(path, sizeof path, "/%s", name);
    shm_unlink(path);
}
static int start_viewer(char** argv) { return posix_spawnp(&viewer, argv[0], NULL, NULL, argv, environ); }
static int viewer_running(void) { return waitpid(viewer, NULL, WNOHANG) == 0; }
static void sleep_ms(int ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}
#endif

/* Beats for up to SECONDS until the byte at OFFSET holds WANTED; prints each view state. */
static int beat_until(size_t offset, int wanted, int seconds) {
    static int last = -1;
    for (int tick = 0; tick < seconds * 10; ++tick) {
        block[HOST_BEAT] = (unsigned char)(block[HOST_BEAT] + 1); /* at least every 200 ms */
        if (block[VIEW_STATE] != last)
            printf("view state %d, viewer heartbeat %d\n", block[VIEW_STATE], block[VIEWER_BEAT]);
        last = block[VIEW_STATE];
        if (block[offset] == wanted)
            return 0;
        if (!viewer_running())
            return -1;
        sleep_ms(100);
    }
    return -1;
}

/* Stores a viewer command and beats until the viewer has taken it (vcHandled). */
static int send_command(int command) {
    block[COMMAND] = (unsigned char)command;
    return beat_until(COMMAND, VC_HANDLED, 5);
}

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: minimal-host NAME SOURCE IDENTIFIER VIEWER [ARGS...]\n");
        return 2;
    }
    const char* name = argv[1];
    setvbuf(stdout, NULL, _IONBF, 0);
    if (create_block(name) != 0) {
        fprintf(stderr, "minimal-host: cannot create the block %s\n", name);
        return 1;
    }
    /* Everything the viewer reads at start, before it starts. JSON needs \ and " escaped. */
    char info[2049] = "{\"Source\":\"";
    for (const char* c = argv[2]; *c && strlen(info) < sizeof info - 32; ++c) {
        if (*c == '\\' || *c == '"')
            strcat(info, "\\");
        strncat(info, c, 1);
    }
    strcat(info, "\",\"Pattern\":\"****\"}");
    put_string(INFO, 2049, info);
    block[CONSOLE_ID] = 7; /* 16 bits, little-endian: 7 */
    block[CONSOLE_ID + 1] = 0;
    put_string(TITLE_FORMAT, 257, "Minimal Host Console %d");
    put_string(CONNECTION, BLOCK_SIZE - CONNECTION, name);

    put_string(SEARCH, 65, argv[3]); /* shown in the toolbar's identifier box */

    /* The viewer's command line: VIEWER NAME IDENTIFIER ARGS... */
    char** command = calloc((size_t)argc + 1, sizeof *command);
    command[0] = argv[4];
    command[1] = argv[1];
    command[2] = argv[3];
    for (int i = 5; i < argc; ++i)
        command[i - 2] = argv[i];
    const int started = start_viewer(command) == 0;
    /* Started with an identifier, the viewer shows its window and the first image. */
    int ok = started && beat_until(VIEW_STATE, VS_OPEN, 30) == 0;
    /* Hide the window, then show it again: it searches the identifier anew. */
    ok = ok && send_command(VC_HIDE) == 0 && send_command(VC_OPEN) == 0;
    ok = ok && beat_until(VIEW_STATE, VS_OPEN, 30) == 0;
    if (started) {
        /* Close in any case; vsClosed is the last thing the viewer writes. */
        block[COMMAND] = VC_CLOSE;
        ok = beat_until(VIEW_STATE, VS_CLOSED, 30) == 0 && ok;
        for (int i = 0; i < 50 && viewer_running(); ++i)
            sleep_ms(100);
        printf("viewer %s, command byte %d\n", viewer_running() ? "still running" : "ended",
               block[COMMAND]);
    }
    remove_block(name);
    free(command);
    return ok ? 0 : 1;
}
