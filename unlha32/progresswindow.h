#pragma once
// The library's progress window over the owner window.
#include <QDialog>
#include <QString>
#include <cstddef>
#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

namespace unlha {

// "512 バイト", "1.2 KB", "34.5 MB", "2.0 GB" (units of 1024).
QString formatBytes(uint64_t bytes);

class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    ProgressWindow(QWidget *owner, const QString &archiveName);

    void setCurrentFile(const QString &name);
    // total 0 means not known yet: the bar then runs without an end.
    void setBytes(uint64_t done, uint64_t total);
    void setCount(std::size_t current, std::size_t total);
    // After Cancel: the button is spent and the window says it is stopping.
    void showStopping();

signals:
    void cancelRequested();

public slots:
    // Esc and the close box end up here; the window stays until the work stops.
    void reject() override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elideInto(QLabel *label, const QString &text);
    void refreshBytes();

    QString archiveName_;
    QString fileName_;
    QLabel *archiveLabel_;
    QLabel *fileLabel_;
    QLabel *bytesLabel_;
    QProgressBar *bar_;
    QPushButton *cancelButton_;
    uint64_t bytesDone_ = 0;
    uint64_t bytesTotal_ = 0;
    std::size_t countCurrent_ = 0;
    std::size_t countTotal_ = 0;
    bool stopping_ = false;
};

} // namespace unlha
