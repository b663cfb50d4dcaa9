#pragma once
// The command line and what the program decides from it at start-up.
#include <QString>

// The window the program opens with.
enum class FirstWindow { NoFileNotice, TitleCard, NotArchiveNotice };

// The arguments after the program's name, joined by single blanks, exactly
// as the system delivered them. Must be called before QApplication sees
// argv, because it removes the options it recognises.
QString joinArguments(int argc, const char *const *argv);

// The argument string of this run (empty until set by the program start).
void setCommandLine(const QString &args);
QString commandLine();

// The program's folder, at which the drive list starts: the executable's
// folder when the user can write to it, else the working folder
// (startFolder() on the volume model's file system).
QString programFolder();

// The last three characters (the whole string when it is shorter).
QString lastThree(const QString &s);

// Sorts the run by the archive path and its stored last three characters:
// empty, an archive's ending (LZH or LHA, capitals and small letters alike;
// no dot is needed before it), or anything else.
FirstWindow decideFirstWindow(const QString &archivePath, const QString &extension);
