#pragma once
#include <QString>

class Form2;

// The work behind a drop on the main window's drive picture: calls the
// archive library with the archive and destination read at this moment,
// then reports the outcome.
void runExtraction(Form2 &form);

// The archiver command for `archive` (the main window's archive path, as it
// stands) and the destination `folder`; the folder always gets a trailing
// separator. An operand with a blank in it is quoted so that the library
// cannot split it or read part of it as a switch.
QString extractCommand(const QString &archive, const QString &folder);

// The text of the message box for a failed run: the first line says failed or
// cancelled, the second gives the cause from the library's `report`, or a
// cause named after `code` when the report has none.
QString failureText(int code, const QString &report);
