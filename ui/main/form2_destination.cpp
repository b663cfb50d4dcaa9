#include "app/intake.h"
#include "ui/main/dirlistbox.h"
#include "ui/main/drivelistbox.h"
#include "ui/main/form1.h"
#include "ui/main/form2.h"
#include "ui/resources/texts_destination.h"
#include "ui/windows/msgbox.h"

#include <QLabel>
#include <QLineEdit>

void Form2::Drive4_Change()
{
    using namespace texts::destination;
    // OK retries the same drive for as long as the user wants: it gives
    // time to insert a disk.
    for (;;) {
        const int err = Dir4->setVolume(Drive4->drive());
        if (err == 0)
            return;
        const QString first = err == kErrDeviceUnavailable ? kDriveNotReady : kDriveUnknown;
        if (msgBox(first + QChar(13) + kDriveRetry, kMbOkCancel, kErrorTitle) != kIdOk)
            break;
    }
    // Back to the program's own drive. When that changes the selection this
    // handler runs once more, nested; if it fails there too, its Cancel
    // selects the drive that is already selected, which reports nothing.
    Drive4->setDrive(programFolder());
}

void Form2::Command1_Click()
{
    Form1 &dialog = form1();
    dialog.Form_Open();
    dialog.Label2->setText(Dir4->path());
    dialog.Text2->setText(Dir4->path());
}
