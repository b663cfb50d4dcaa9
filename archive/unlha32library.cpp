#include "archive/unlha32library.h"

#include "unlha32/unlha32.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <dlfcn.h>
#include <vector>

namespace archive {
namespace {

constexpr const char *kLibraryFile = "libunlha32.so";

// Room for the library's report: one line per item, then the cause of a
// failure on the last line, the only part shown. When the items do not fit
// the library cuts them, never the cause.
constexpr uint32_t kReportBufferSize = 4096;

struct Library {
    void *handle = nullptr;
    UnlhaGetVersionFn getVersion = nullptr;
    UnlhaFn unlha = nullptr;
};

Library g_library;
QStringList g_testCandidates;

QString programFolder()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
}

bool tryLoad(const QString &candidate)
{
    // A bare file name goes to the system's own search; a path is taken only
    // when the file is there, so a missing folder costs no dlopen.
    const bool bare = !candidate.contains(u'/');
    if (!bare && !QFileInfo::exists(candidate))
        return false;
    void *handle = dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return false;
    auto getVersion = reinterpret_cast<UnlhaGetVersionFn>(dlsym(handle, "UnlhaGetVersion"));
    auto unlha = reinterpret_cast<UnlhaFn>(dlsym(handle, "Unlha"));
    if (!getVersion || !unlha) {
        // A library without the entry points is not ours; keep looking.
        dlclose(handle);
        return false;
    }
    g_library = {handle, getVersion, unlha};
    return true;
}

bool ensureLoaded()
{
    if (g_library.handle)
        return true;
    // A failed attempt is not remembered: the user may install the library
    // and drop again without restarting.
    const QStringList candidates = g_testCandidates.isEmpty() ? defaultCandidates() : g_testCandidates;
    for (const QString &candidate : candidates) {
        if (tryLoad(candidate))
            return true;
    }
    return false;
}

} // namespace

QStringList defaultCandidates()
{
    const QString own = programFolder();
    QStringList candidates;
    if (!own.isEmpty()) {
        candidates << QDir(own).filePath(QString::fromLatin1(kLibraryFile));
        candidates << QDir::cleanPath(own + QStringLiteral("/../" HOGUREN_PRIVATE_LIBDIR "/") + QString::fromLatin1(kLibraryFile));
    }
#ifdef HOGUREN_LIBDIR
    candidates << QStringLiteral(HOGUREN_LIBDIR "/") + QString::fromLatin1(kLibraryFile);
#endif
    candidates << QString::fromLatin1(kLibraryFile);
    candidates.removeDuplicates();
    return candidates;
}

std::optional<uint16_t> version()
{
    if (!ensureLoaded())
        return std::nullopt;
    return g_library.getVersion();
}

std::optional<RunResult> run(uintptr_t ownerWindow, const QString &command)
{
    if (!ensureLoaded())
        return std::nullopt;
    RunResult result;
    {
        // The converted command and the report buffer live only for the call.
        const QByteArray commandText = command.toLocal8Bit();
        std::vector<char> output(kReportBufferSize, '\0');
        result.code = g_library.unlha(ownerWindow, commandText.constData(), output.data(),
                                      static_cast<uint32_t>(output.size()));
        output.back() = '\0';
        result.report = QString::fromLocal8Bit(output.data());
    }
    return result;
}

void setCandidatesForTesting(const QStringList &candidates) { g_testCandidates = candidates; }

void unloadForTesting()
{
    if (g_library.handle)
        dlclose(g_library.handle);
    g_library = {};
}

} // namespace archive
