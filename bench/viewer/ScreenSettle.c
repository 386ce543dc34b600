// Start to drawn, seen from outside: runs a command and prints how long after its start the
// screen last changed before it stayed still for QUIET_MS. The X server's damage reports for
// the root window cover every window drawn into, so a viewer and any other program are timed
// by the same rule, with no help from either.
//
//   screen-settle QUIET_MS TIMEOUT_MS COMMAND [ARG...]
//
// Prints "drawn_ms first_ms damage_events" on stdout and exits 0, or exits 1 when the screen
// never settled (or never changed) within TIMEOUT_MS. The command is killed at the end; with
// SCREEN_SETTLE_SHOT=FILE.png the screen is saved (ImageMagick's import) just before.
#define _POSIX_C_SOURCE 200809L
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double NowMs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: screen-settle QUIET_MS TIMEOUT_MS MIN_AREA COMMAND [ARG...]\n");
        return 2;
    }
    const double quietMs = atof(argv[1]);
    const double timeout = atof(argv[2]);
    const long minArea = atol(argv[3]);
    xcb_connection_t* c = xcb_connect(NULL, NULL);
    if (xcb_connection_has_error(c)) {
        fprintf(stderr, "screen-settle: cannot open display\n");
        return 2;
    }
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_damage_id);
    if (!ext || !ext->present) {
        fprintf(stderr, "screen-settle: the X server has no DAMAGE extension\n");
        return 2;
    }
    free(xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), NULL));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_damage_damage_t damage = xcb_generate_id(c);
    xcb_damage_create(c, damage, root, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), NULL)); // the damage is in place
    // Whatever was still being drawn before the start is not the command's.
    for (xcb_generic_event_t* e; (e = xcb_poll_for_event(c));)
        free(e);

    const double start = NowMs();
    const pid_t child = fork();
    if (child < 0) {
        perror("screen-settle: fork");
        return 2;
    }
    if (child == 0) {
        setpgid(0, 0);
        // Only the figures go to stdout.
        const int quiet = open("/dev/null", O_WRONLY);
        if (quiet >= 0) {
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
        }
        execvp(argv[4], argv + 4);
        perror("screen-settle: exec");
        _exit(127);
    }
    double first = -1, last = -1;
    unsigned long events = 0;
    struct pollfd p = {.fd = xcb_get_file_descriptor(c), .events = POLLIN};
    int settled = 0;
    for (;;) {
        for (xcb_generic_event_t* e; (e = xcb_poll_for_event(c));) {
            if ((e->response_type & 0x7f) == ext->first_event + XCB_DAMAGE_NOTIFY &&
                (long)((xcb_damage_notify_event_t*)e)->area.width *
                        ((xcb_damage_notify_event_t*)e)->area.height >=
                    minArea) {
                last = NowMs() - start;
                if (first < 0)
                    first = last;
                ++events;
            }
            free(e);
        }
        if (xcb_connection_has_error(c))
            break;
        const double now = NowMs() - start;
        if (last >= 0 && now - last >= quietMs) {
            settled = 1;
            break;
        }
        if (now >= timeout)
            break;
        const double wait = last >= 0 ? quietMs - (now - last) : timeout - now;
        if (poll(&p, 1, (int)(wait > 1 ? wait : 1)) < 0 && errno != EINTR)
            break;
    }
    // To look at what was on the screen when it settled: SCREEN_SETTLE_SHOT=FILE.png.
    const char* shot = getenv("SCREEN_SETTLE_SHOT");
    if (settled && shot && *shot) {
        const pid_t grab = fork();
        if (grab == 0) {
            execlp("import", "import", "-window", "root", shot, (char*)NULL);
            _exit(127);
        }
        if (grab > 0)
            waitpid(grab, NULL, 0);
    }
    kill(-child, SIGTERM);
    waitpid(child, NULL, 0);
    xcb_disconnect(c);
    if (!settled) {
        fprintf(stderr, "screen-settle: the screen did not settle within %.0f ms\n", timeout);
        return 1;
    }
    printf("%.1f %.1f %lu\n", last, first, events);
    return 0;
}
