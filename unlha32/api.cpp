#include "unlha32/unlha32.h"

#include "unlha32/extract.h"

uint16_t UnlhaGetVersion(void)
{
    return 100;
}

int Unlha(uintptr_t ownerWindow, const char *command, char *output, uint32_t outputSize)
{
    return unlha::runCommand(ownerWindow, command, output, outputSize);
}
