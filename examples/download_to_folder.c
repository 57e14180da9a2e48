/* download_to_folder: downloads a URL's reply into a folder, under the name the server
 * announces, and cancels the download when Ctrl-C is pressed.
 *
 *   download_to_folder URL FOLDER
 *
 * A second thread waits for SIGINT and calls CancelTransferFile, the one call that may reach a
 * handle from another thread while a transfer runs on it. SIGINT, and SIGUSR1 that tells that
 * thread the transfer is over, are blocked in every thread, so only its sigwait takes them.
 * A cancelled download leaves no partial file and an existing one as it was.
 * Exit status: 0 stored, 1 failed, 2 usage error, 130 cancelled. */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdbool.h>
#include <stdio.h>
#include <zemuser.h>

struct canceller {
    TransferHandle handle;
    sigset_t signals;
    atomic_bool interrupted;
};

static void* cancel_on_interrupt(void* argument) {
    struct canceller* canceller = argument;
    int signal_number = 0;
    if (sigwait(&canceller->signals, &signal_number) == 0 && signal_number == SIGINT) {
        atomic_store(&canceller->interrupted, true);
        CancelTransferFile(canceller->handle);
    }
    return NULL;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s URL FOLDER\n", argv[0]);
        return 2;
    }
    const char* url = argv[1];
    const char* folder = argv[2];

    struct canceller canceller;
    atomic_init(&canceller.interrupted, false);
    sigemptyset(&canceller.signals);
    sigaddset(&canceller.signals, SIGINT);
    sigaddset(&canceller.signals, SIGUSR1);
    /* Before any other thread starts, so that every thread inherits the mask. */
    if (pthread_sigmask(SIG_BLOCK, &canceller.signals, NULL) != 0) {
        fputs("download_to_folder: cannot block SIGINT\n", stderr);
        return 1;
    }
    canceller.handle = ZEMTransferBegin();
    if (canceller.handle == NULL) {
        fputs("download_to_folder: no transfer handle (out of memory)\n", stderr);
        return 1;
    }
    pthread_t waiter;
    if (pthread_create(&waiter, NULL, cancel_on_interrupt, &canceller) != 0) {
        fputs("download_to_folder: cannot start the waiting thread\n", stderr);
        ZEMTransferEnd(canceller.handle);
        return 1;
    }

    /* The name is cut to the size given, with no terminating zero when it fills it: give one
     * byte less than the buffer holds, so that a zero always follows. NULL: no form fields. */
    char name[256] = {0};
    int32_t stored =
        ZEMNormalDownloadFile(canceller.handle, url, NULL, folder, name, (int32_t)sizeof name - 1);

    /* Wake the waiter if no Ctrl-C came, and end the handle only once the transfer has
     * returned and no other thread can still reach it. */
    pthread_kill(waiter, SIGUSR1);
    pthread_join(waiter, NULL);
    ZEMTransferEnd(canceller.handle);

    if (stored == 1) {
        /* An empty name: the server announced none (or nothing usable), the file is "unknown". */
        printf("%s/%s\n", folder, name[0] != '\0' ? name : "unknown");
        return 0;
    }
    if (atomic_load(&canceller.interrupted)) {
        fputs("download_to_folder: cancelled\n", stderr);
        return 130;
    }
    fprintf(stderr, "download_to_folder: %s: nothing stored (no answer, not 200, or empty)\n", url);
    return 1;
}
