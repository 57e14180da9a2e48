/* The smallest host: a C program that loads the library, creates and ends a handle and asks
 * for the processor usage. */
#include <stdio.h>
#include <zemuser.h>

int main(void) {
    int32_t process = -1;
    int32_t system = GetCPUUsage(&process);
    TransferHandle handle = ZEMTransferBegin();
    if (handle == NULL) {
        fputs("consumer: no transfer handle\n", stderr);
        return 1;
    }
    ZEMTransferEnd(handle);
    /* The first call only creates the meter and reports 0 for both. */
    printf("consumer: system %d%% process %d%%\n", (int)system, (int)process);
    return system == 0 && process == 0 ? 0 : 1;
}
