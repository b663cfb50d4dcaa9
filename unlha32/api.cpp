#include "unlha32/unlha32.h"

#include "unlha32/extract.h"

// What each version reads, header levels 0 to 3 throughout:
// 100 (1.00) -lh0- -lh1- -lh4- to -lh7- -lhx- -lhd- -lzs- -lz4- -lz5- -pm0- to -pm2-;
// 110 (1.10) also -lh2- and -lh3-, and LHARK's -lh7-.
uint16_t UnlhaGetVersion(void)
{
    return 110;
}

// Throws nothing into the caller: runCommand() turns every failure, the
// library's own included (memory, threads, windows), into a result.
int Unlha(uintptr_t ownerWindow, const char *command, char *output, uint32_t outputSize)
{
    return unlha::runCommand(ownerWindow, command, output, outputSize);
}
