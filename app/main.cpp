#include "app/ending.h"
#include "app/intake.h"
#include "app/startup.h"
#include "ui/main/form2.h"
#include "ui/windows/fonts.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // Read before QApplication, which strips the options it knows from argv.
    const QString args = joinArguments(argc, argv);

    choosePlatform();
    QApplication app(argc, argv);
    installQtJapanese();
    // Only the program's own end operation ends it; hiding or closing the
    // last visible window must not.
    app.setQuitOnLastWindowClosed(false);
    // Logout, Ctrl-C and shutdown end the program the same way, a running
    // extraction cancelled first.
    installEndingSignals();
    QFont font = app.font();
    font.setFamilies(gothicFamilies());
    app.setFont(font);

    setCommandLine(args);
    form2().Form_Load();
    return app.exec();
}
