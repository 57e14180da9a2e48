/* The smallest host: a C program that loads the library, creates and ends a handle and asks
 * for the processor usage, which the first call only starts measuring (0 for both). */
#include <stdio.h>
#include <zemuser.h>

int main(void) {
    int32_t process = -1;
    int32_t system = GetCPUUsage(&process);
    TransferHandle handle = ZEMTransferBegin();
    ZEMTransferEnd(handle);
    printf("consumer: handle %s, system %d%% process %d%%\n", handle ? "made" : "missing",
           (int)system, (int)process);
    return handle != NULL && system == 0 && process == 0 ? 0 : 1;
}
