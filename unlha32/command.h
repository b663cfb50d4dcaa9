#pragma once
// The command language: "e ARCHIVE DEST/" or "x ARCHIVE DEST/".
#include <string>

namespace unlha {

enum class CommandError {
    None,
    Syntax,       // unknown command, switch, wrong number of operands
    NoArchive,    // the archive does not exist or is not a file
    NoDestination // the destination does not exist or is not a folder
};

struct Command {
    std::string archive;
    std::string destination; // less the one separator the caller appends
    // With NoArchive / NoDestination: what is wrong with the path, as an
    // errno value (ENOENT, ENAMETOOLONG, EACCES, EISDIR, ENOTDIR; EINVAL
    // for an archive that is a FIFO, a device or a socket).
    int problem = 0;
};

// Operands may be in double quotation marks; inside them two quotation marks
// in a row stand for one, and nothing is taken for a switch. Unquoted
// operands with blanks are split where exactly one split names an existing
// file as the archive.
CommandError parseCommand(const std::string &text, Command &out);

} // namespace unlha
