#include "app/extraction.h"

#include "app/ending.h"
#include "app/form4.h"
#include "archive/unlha32library.h"
#include "ui/main/dirlistbox.h"
#include "ui/main/drivelistbox.h"
#include "ui/main/form2.h"
#include "ui/resources/texts_extraction.h"
#include "ui/windows/msgbox.h"
#include "unlha32/unlha32.h"
#include "unlha32/windowmanners.h"

#include <QLabel>
#include <QRegularExpression>

#include <algorithm>

namespace {

// The library splits the command at blanks, reads a leading '-' as a
// switch, and takes a quoted operand literally with "" standing for one '"'.
QString quoteOperand(const QString &operand)
{
    const bool needsQuotes = operand.startsWith(u'-') || operand.contains(u'"')
        || std::any_of(operand.cbegin(), operand.cend(), [](QChar c) { return c.isSpace(); });
    if (!needsQuotes)
        return operand;
    QString quoted = operand;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

QString causeForCode(int code)
{
    using namespace texts::extraction;
    switch (code) {
    case UNLHA_ERR_NOT_ARCHIVE: return kCauseNotArchive;
    case UNLHA_ERR_DAMAGED: return kCauseDamaged;
    case UNLHA_ERR_METHOD: return kCauseMethod;
    case UNLHA_ERR_WRITE: return kCauseWrite;
    case UNLHA_ERR_SKIPPED: return kCauseSkipped;
    case UNLHA_ERR_COMMAND: return kCauseCommand;
    default: return kCauseOther;
    }
}

} // namespace

QString extractCommand(const QString &archive, const QString &folder)
{
    return QStringLiteral("e ") + quoteOperand(archive) + u' ' + quoteOperand(folder + u'/');
}

QString failureText(int code, const QString &report)
{
    using namespace texts::extraction;
    // A cancel is the user's own doing: the library's cause would only say
    // it a second time.
    if (code == UNLHA_ERR_CANCELLED)
        return kCancelled;
    // The library lists the items first and puts the cause of a failure on
    // the report's last line; the items would only bury the cause here.
    QString cause;
    const QStringList lines = report.split(QRegularExpression(QStringLiteral("[\r\n]")));
    for (auto it = lines.crbegin(); it != lines.crend() && cause.isEmpty(); ++it)
        cause = it->trimmed();
    if (cause.isEmpty())
        cause = causeForCode(code);
    return kFailed + u'\r' + cause;
}

void runExtraction(Form2 &form)
{
    using namespace texts::extraction;
    // The library keeps the windows painting while it works; a second drop
    // meanwhile must not start a second run inside the first.
    static bool running = false;
    if (running)
        return;
    running = true;

    // The chosen volume may have been pulled out since it was chosen; its
    // mount point is then a bare folder, and writing there would "succeed".
    if (!volumeModel().isMounted(form.Drive4->drive())) {
        running = false;
        msgBox(kFailed + u'\r' + kDriveNotReady, kMbOk, kErrorTitle);
        return;
    }

    std::optional<archive::RunResult> result;
    if (archive::version()) {
        const auto owner = static_cast<uintptr_t>(form.winId());
        const QString command = extractCommand(form.Label1->text(), form.Dir4->path());
        setExtractionRunning(true);
        result = archive::run(owner, command);
        setExtractionRunning(false);
    }
    running = false;

    // Ended from outside meanwhile: the library has cancelled and cleaned
    // up; nobody is there to read a message.
    if (endRequested()) {
        endProgram();
        return;
    }

    if (!result) {
        msgBox(kLibraryMissing, kMbOk, kErrorTitle);
        return;
    }
    if (result->code != UNLHA_OK) {
        msgBox(failureText(result->code, result->report), kMbOk, kErrorTitle);
        return;
    }
    // A long extraction may end while the user works elsewhere: the report
    // then waits behind that work and asks for attention.
    manners::showForUser(form4());
}
