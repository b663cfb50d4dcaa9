// Arbitrary command lines through the command parser, in a scratch working
// folder whose file and folder names have blanks, so that the splitting of
// unquoted operands is exercised against real files. Commands that fail to
// parse, and those naming one of the (empty) scratch archives, also run
// through the whole command, which then must not write anything.
#include "tests/fuzz/fuzz_support.h"

#include "unlha32/command.h"
#include "unlha32/extract.h"
#include "unlha32/unlha32.h"

#include <cstdint>
#include <string>

namespace {

using fuzz::check;

const std::string &sandbox()
{
    static const std::string root = [] {
        const std::string r = fuzz::makeWorkspace("fuzz_command");
        const fuzz::InFolder in(r);
        for (const char *d : {"dest", "dest dir", "d", "d\\", "a b dir", "sub", "sub/out"})
            check(mkdir(d, 0700) == 0, "mkdir", d);
        // Empty, so that a command that gets as far as extracting stops
        // at once and writes nothing.
        for (const char *f : {"a.lzh", "a b.lzh", "a b", "x y z.lzh", "e", "sub/q r.lzh"}) {
            const int fd = open(f, O_WRONLY | O_CREAT | O_EXCL, 0600);
            check(fd >= 0, "create", f);
            close(fd);
        }
        return r;
    }();
    return root;
}

struct stat statOf(const std::string &p, bool &ok)
{
    struct stat st{};
    ok = ::stat(p.c_str(), &st) == 0;
    return st;
}

bool insideSandbox(const std::string &p)
{
    char *real = realpath(p.c_str(), nullptr);
    if (!real)
        return false;
    const std::string r = real;
    std::free(real);
    return r.rfind(sandbox() + "/", 0) == 0;
}

void checkParsed(const std::string &text, const unlha::Command &cmd)
{
    bool ok = false;
    const struct stat a = statOf(cmd.archive, ok);
    check(ok && S_ISREG(a.st_mode), "accepted archive is no file", cmd.archive);
    const struct stat d = statOf(cmd.destination, ok);
    check(ok && S_ISDIR(d.st_mode), "accepted destination is no folder", cmd.destination);
    // A quotation mark in an operand is one the text doubled inside quotes.
    const auto doubled = [](std::string s) {
        for (std::size_t i = s.find('"'); i != std::string::npos; i = s.find('"', i + 2))
            s.insert(i, 1, '"');
        return s;
    };
    for (const std::string *operand : {&cmd.archive, &cmd.destination})
        check(operand->find('\0') == std::string::npos, "NUL byte in an operand", *operand);
    for (const std::string *operand : {&cmd.archive, &cmd.destination})
        check(operand->find('"') == std::string::npos || text.find(doubled(*operand)) != std::string::npos,
              "quotation mark left in an operand", *operand);
    // Only the separator the caller appended goes: a folder whose own name
    // ends in one, such as "d\\" here, keeps it, and the text has it doubled.
    const std::string &dest = cmd.destination;
    const char last = dest.back();
    check(dest == "/" || (last != '/' && last != '\\') || text.find(dest + '/') != std::string::npos
              || text.find(dest + '\\') != std::string::npos,
          "trailing separator kept", dest);
    // Operands come from the text; nothing is made up.
    check(text.find(cmd.archive) != std::string::npos, "archive not in the command", cmd.archive);
}

// The whole command, when it cannot write: it fails to parse, or its
// archive is one of the empty scratch files.
void runWhole(const std::string &text)
{
    unlha::Command cmd;
    const unlha::CommandError err = unlha::parseCommand(text, cmd);
    if (err == unlha::CommandError::None && !insideSandbox(cmd.archive))
        return;
    static char out[1025];
    const size_t outSize = text.size() % sizeof out;
    std::memset(out, 0xA5, sizeof out);
    const int result = unlha::runCommand(0, text.c_str(), outSize ? out : nullptr, static_cast<uint32_t>(outSize));
    check(result == (err == unlha::CommandError::None ? UNLHA_ERR_NOT_ARCHIVE : UNLHA_ERR_COMMAND),
          "unexpected result", std::to_string(result));
    if (outSize > 0)
        check(std::memchr(out, 0, outSize) != nullptr, "report not terminated within its buffer");
    for (size_t i = outSize; i < sizeof out; ++i)
        check(static_cast<unsigned char>(out[i]) == 0xA5, "report written past its buffer");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fuzz::InFolder in(sandbox());
    const std::string text(reinterpret_cast<const char *>(data), size);
    unlha::Command cmd;
    if (unlha::parseCommand(text, cmd) == unlha::CommandError::None)
        checkParsed(text, cmd);
    // The library's entry point sees the text only up to its first NUL.
    runWhole(std::string(text.c_str()));
    return 0;
}
