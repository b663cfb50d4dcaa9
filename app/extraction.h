#pragma once
#include <QString>

class Form2;

// The work behind a drop on the main window's drive picture: calls the
// archive library with the archive and destination read at this moment,
// then reports the outcome.
void runExtraction(Form2 &form);

// The archiver command for `archive` (the main window's archive path, as it
// stands) and the destination `folder`; the folder always gets a trailing
// separator. An operand with a blank or a '"' in it, or starting with '-', is
// quoted (each '"' doubled inside) so that the library neither splits it nor
// reads it as a switch; any other operand goes as it is.
QString extractCommand(const QString &archive, const QString &folder);

// The text of the message box for a run that did not succeed: for a cancel,
// just that it was cancelled; otherwise that it failed, then the cause from
// the library's `report`, or one named after `code` when the report has none.
QString failureText(int code, const QString &report);
