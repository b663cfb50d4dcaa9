#pragma once
// The question asked before an existing file is replaced.
#include <QDialog>
#include <QString>

#include "unlha32/observer.h"

namespace unlha {

class OverwriteDialog : public QDialog {
    Q_OBJECT
public:
    OverwriteDialog(QWidget *parent, const QString &path);

signals:
    void answered(unlha::OverwriteAnswer answer);

public slots:
    // Esc and the close box mean 中止, never a silent replace.
    void reject() override;

private:
    void answer(OverwriteAnswer a);
    bool done_ = false;
};

} // namespace unlha
