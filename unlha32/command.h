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
    std::string destination; // without a trailing separator ("/" for the root)
};

// Operands may be in double quotation marks. Unquoted operands with blanks
// are split where exactly one split names an existing file as the archive.
CommandError parseCommand(const std::string &text, Command &out);

} // namespace unlha
