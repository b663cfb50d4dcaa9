#include "app/extraction.h"

void runExtraction(Form2 &) {}
