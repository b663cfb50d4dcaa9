#include "unlha32/unlha32.h"

uint16_t UnlhaGetVersion(void) { return 100; }

int Unlha(uintptr_t, const char *, char *output, uint32_t outputSize)
{
    if (output && outputSize > 0)
        output[0] = '\0';
    return UNLHA_ERR_COMMAND;
}
