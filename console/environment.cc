// The program's environment on the real system.
#include "console/environment.h"

#include "platform/sleep.h"

void ProgramEnvironment::sleep_ms(int ms) { ::sleep_ms(ms); }
