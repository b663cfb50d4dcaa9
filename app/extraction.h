#pragma once
class Form2;

// The work behind a drop on the main window's drive picture: calls the
// archive library with the archive and destination read at this moment,
// then reports the outcome.
void runExtraction(Form2 &form);
