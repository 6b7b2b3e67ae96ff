/* Start-up code, in the discardable initialisation object: the system runs it when it
 * loads the driver (SYS_DYNAMIC_DEVICE_INIT) and may discard it afterwards. The driver has
 * nothing to set up; it accepts being loaded. */
#include <stdint.h>

__attribute__((section(".itext"), noinline)) uint32_t EnumeratorDynamicInit(void) {
    return 1;
}
