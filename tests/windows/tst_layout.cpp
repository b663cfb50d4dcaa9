// Every window against its layout: client size, border, each control's pixel
// rectangle (twips / 15), text, font size, colour, focus order, no default
// button.
#include "ui/main/dirlistbox.h"
#include "ui/main/drivelistbox.h"
#include "ui/main/form2.h"
#include "ui/windows/form10.h"
#include "ui/windows/form3.h"
#include "ui/windows/form5.h"
#include "ui/windows/title1.h"
#include "app/ending.h"

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {
struct Row {
    QWidget *w;
    QRect px;       // expected geometry in pixels, relative to the parent
    QString text;   // null: not checked (lists, pictures)
    double points;  // 0: the window's own font
};

QString textOf(QWidget *w)
{
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    return {};
}

void checkRows(QWidget &window, const QList<Row> &rows)
{
    for (const Row &r : rows) {
        const QByteArray where = r.w->objectName().toUtf8() + " / " + textOf(r.w).toUtf8();
        QVERIFY2(r.w->geometry() == r.px,
                 where + ": " + QByteArray::number(r.w->x()) + "," + QByteArray::number(r.w->y())
                     + " " + QByteArray::number(r.w->width()) + "x"
                     + QByteArray::number(r.w->height()));
        if (!r.text.isNull())
            QVERIFY2(textOf(r.w) == r.text, where);
        const double expected = r.points ? r.points : window.font().pointSizeF();
        QVERIFY2(qFuzzyCompare(r.w->font().pointSizeF(), expected), where);
        if (r.points) {
            QCOMPARE(r.w->font().families().value(0), QStringLiteral("ＭＳ Ｐゴシック"));
            QVERIFY(r.w->font().families().contains(QStringLiteral("IPAPGothic")));
            QCOMPARE(r.w->font().weight(), QFont::Normal);
        }
        QVERIFY2(r.w->isVisibleTo(&window), where);
        QVERIFY2(r.w->isEnabled(), where);
    }
}

// Fixed single border, close box only, exact client size.
void checkFixedWindow(QWidget &w, const QString &caption, QSize client)
{
    QCOMPARE(w.windowTitle(), caption);
    QCOMPARE(w.size(), client);
    QCOMPARE(w.minimumSize(), client);
    QCOMPARE(w.maximumSize(), client);
    const Qt::WindowFlags f = w.windowFlags();
    QVERIFY(f & Qt::WindowCloseButtonHint);
    QVERIFY(f & Qt::WindowTitleHint);
    QVERIFY(f & Qt::CustomizeWindowHint);
    QVERIFY(!(f & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(f & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(f & Qt::WindowContextHelpButtonHint));
    QVERIFY(!w.windowIcon().isNull());
    QVERIFY(w.windowIcon().availableSizes().contains(QSize(32, 32)));
    QVERIFY(w.windowIcon().availableSizes().contains(QSize(16, 16)));
    for (QPushButton *b : w.findChildren<QPushButton *>()) {
        QVERIFY2(!b->isDefault() && !b->autoDefault(), qPrintable(b->text()));
    }
}

// The widgets Tab visits, in order, starting at `first`.
QList<QWidget *> tabChain(QWidget *first)
{
    QList<QWidget *> chain;
    QWidget *w = first;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled())
            chain << w;
        w = w->nextInFocusChain();
    } while (w != first && chain.size() < 50);
    return chain;
}

bool hasPicture(QLabel *l, bool stretched)
{
    return !l->pixmap().isNull() && l->pixmap().size() == QSize(32, 32)
        && l->hasScaledContents() == stretched;
}
} // namespace

class TstLayout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { setEndProgramHook([] {}); }
    void mainWindow();
    void titleCard();
    void notices();
    void versionWindow();
};

void TstLayout::mainWindow()
{
    Form2 &f = form2();
    checkFixedWindow(f, QStringLiteral("ほぐれん  Ｖｅｒｓｉｏｎ ３．５"), QSize(631, 385));

    checkRows(f, {
        {f.Label8, {72, 32, 497, 17},
         QStringLiteral("解凍先フォルダを指定してフロッピーアイコンをドライブアイコンへドラッグ＆ドロップしてください。"), 0},
        {f.Image1, {120, 56, 65, 65}, {}, 0},
        {f.Image4, {296, 72, 32, 32}, {}, 0},
        {f.Image2, {480, 56, 48, 49}, {}, 0},
        {f.Label2, {432, 104, 137, 25}, QStringLiteral("解 凍 実 行"), 18},
        {f.Label6, {24, 136, 81, 17}, QStringLiteral("解凍元ファイル"), 0},
        {f.Label1, {40, 160, 249, 17}, QStringLiteral("Label1"), 0},
        {f.Label3, {400, 152, 129, 25}, QStringLiteral("解凍先フォルダ"), 14.25},
        {f.Dir4, {400, 176, 209, 142}, {}, 0},
        {f.Drive4, {400, 320, 209, 20}, {}, 0},
        {f.Command1, {400, 344, 209, 25}, QStringLiteral("新規フォルダ作成"), 0},
        {f.Command3, {80, 240, 225, 41}, QStringLiteral("バージョン情報"), 0},
        {f.Command2, {80, 280, 225, 41}, QStringLiteral("キャンセル"), 0},
        {f.Text2, {160, 448, 225, 25}, QStringLiteral("Text2"), 0},
    });

    QVERIFY(hasPicture(f.Image1, true));
    QVERIFY(hasPicture(f.Image2, true));
    QVERIFY(hasPicture(f.Image4, false));
    QCOMPARE(f.Label2->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QVERIFY(f.Label1->frameShape() == QFrame::Box);
    QVERIFY(!f.Label1->wordWrap());
    // A long path is cut at the label's edge, the label keeps its box.
    f.Label1->setText(QString(400, QLatin1Char('x')));
    QCOMPARE(f.Label1->geometry(), QRect(40, 160, 249, 17));
    f.Label1->setText(QStringLiteral("<b>a</b>"));
    QCOMPARE(f.Label1->textFormat(), Qt::PlainText);

    // The unseen text box lies wholly below the client area.
    QVERIFY(!f.rect().intersects(f.Text2->geometry()));
    QVERIFY(f.Text2->y() >= f.height());

    const QList<QWidget *> chain = tabChain(f.Dir4);
    const QList<QWidget *> expected{f.Dir4, f.Drive4, f.Command1, f.Command3, f.Command2, f.Text2};
    QCOMPARE(chain, expected);
}

void TstLayout::titleCard()
{
    title1 &t = title1Window();
    QVERIFY(t.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(t.windowType(), Qt::SplashScreen); // no taskbar entry
    QVERIFY(t.windowTitle().isEmpty());
    // The client area inside a thin frame of the card's own, raised: light
    // on the left, dark on the right.
    QCOMPARE(t.size(), QSize(492 + 6, 266 + 6));
    QCOMPARE(t.client->geometry(), QRect(3, 3, 492, 266));
    QCOMPARE(t.Frame1->parentWidget(), t.client);
    const QImage card = t.grab().toImage();
    const QColor face = card.pixelColor(t.width() / 2, 4);
    QVERIFY(card.pixelColor(0, 100).lightness() > card.pixelColor(t.width() - 1, 100).lightness());
    QVERIFY(card.pixelColor(t.width() - 1, 100).lightness() < face.lightness());
    QCOMPARE(t.Frame1->geometry(), QRect(8, 8, 472, 246));
    QCOMPARE(t.Frame1->frameShape(), QFrame::Box);
    QCOMPARE(t.Frame1->frameShadow(), QFrame::Sunken);
    for (QWidget *child : {static_cast<QWidget *>(t.imgLogo), static_cast<QWidget *>(t.lblProductName),
                           static_cast<QWidget *>(t.lblVersion), static_cast<QWidget *>(t.lblCopyright)})
        QCOMPARE(child->parentWidget(), t.Frame1);
    QCOMPARE(t.imgLogo->geometry(), QRect(40, 64, 121, 135));
    QVERIFY(hasPicture(t.imgLogo, true));

    QCOMPARE(t.lblProductName->text(), QStringLiteral("ほぐれん"));
    QCOMPARE(t.lblProductName->font().pointSizeF(), 36.0);
    QCOMPARE(t.lblProductName->font().weight(), QFont::Bold);
    QCOMPARE(t.lblProductName->font().families().value(0), QStringLiteral("HG丸ｺﾞｼｯｸM-PRO"));
    QVERIFY(t.lblProductName->font().families().contains(QStringLiteral("MotoyaLMaru")));
    QCOMPARE(t.lblProductName->pos(), QPoint(208, 88));
    // Fitted to its text in whichever face stands in.
    QCOMPARE(t.lblProductName->size(), t.lblProductName->sizeHint());
    const QFontMetrics nameMetrics(t.lblProductName->font());
    QVERIFY(t.lblProductName->width() >= nameMetrics.horizontalAdvance(t.lblProductName->text()));

    QCOMPARE(t.lblVersion->text(), QStringLiteral("Ｖｅｒｓｉｏｎ．３．５"));
    QCOMPARE(t.lblVersion->font().pointSizeF(), 12.0);
    QCOMPARE(t.lblVersion->font().weight(), QFont::Bold);
    QVERIFY(t.lblVersion->alignment() & Qt::AlignRight);
    QCOMPARE(t.lblVersion->size(), t.lblVersion->sizeHint());
    QCOMPARE(t.lblVersion->geometry().right() + 1, 264 + 188); // right edge kept
    QCOMPARE(t.lblVersion->y(), 168);

    QCOMPARE(t.lblCopyright->geometry(), QRect(272, 216, 185, 17));
    QVERIFY(!t.lblCopyright->text().isEmpty());
    const QFontMetrics copyMetrics(t.lblCopyright->font());
    QVERIFY2(copyMetrics.horizontalAdvance(t.lblCopyright->text()) <= 185,
             "the copyright line fits its label");

    QCOMPARE(t.Timer1->interval(), 2000);
    QVERIFY(t.Timer1->isActive());
    QCOMPARE(t.focusPolicy(), Qt::NoFocus);
    QVERIFY(t.findChildren<QWidget *>().size() == 6); // client, Frame1 + its four
    for (QWidget *w : t.findChildren<QWidget *>())
        QCOMPARE(w->focusPolicy(), Qt::NoFocus);
}

void TstLayout::notices()
{
    Form3 &a = form3();
    checkFixedWindow(a, QStringLiteral("ほぐれん３．５"), QSize(548, 212));
    checkRows(a, {
        {a.Label1, {128, 24, 313, 25}, QStringLiteral("ほぐれんは単独起動されています。"), 15.75},
        {a.Image1, {32, 40, 65, 65}, {}, 0},
        {a.Label2, {144, 64, 385, 17},
         QStringLiteral("解凍したいファイルをドラッグ＆ドロップして起動してください。"), 11.25},
        {a.Label3, {144, 96, 273, 17}, QStringLiteral("詳しくは説明書テキストを参照してください。"), 11.25},
        {a.Command1, {336, 144, 193, 33}, QStringLiteral("了  解"), 0},
        {a.Command2, {336, 176, 193, 25}, QStringLiteral("バージョン情報"), 0},
    });
    QVERIFY(hasPicture(a.Image1, true));
    const QList<QWidget *> chainA{a.Command1, a.Command2};
    QCOMPARE(tabChain(a.Command1), chainA);

    Form10 &b = form10();
    checkFixedWindow(b, QStringLiteral("ほぐれん   Ｖｅｒｓｉｏｎ．３．５"), QSize(540, 95));
    checkRows(b, {
        {b.Image1, {24, 24, 32, 32}, {}, 0},
        {b.Label1, {88, 24, 409, 17},
         QStringLiteral("あなたが指定したファイルはLHA形式のファイルではありません。"), 11.25},
        {b.Command1, {120, 56, 329, 25}, QStringLiteral("了       解"), 0},
    });
    QVERIFY(hasPicture(b.Image1, false));
    QCOMPARE(tabChain(b.Command1), QList<QWidget *>{b.Command1});
    // The warning picture is not the floppy.
    QVERIFY(b.Image1->pixmap().toImage() != a.Image1->pixmap().toImage());
}

void TstLayout::versionWindow()
{
    Form5 &v = form5();
    checkFixedWindow(v, QStringLiteral("バージョン情報"), QSize(398, 76));
    checkRows(v, {
        {v.Label1, {96, 16, 185, 17}, QStringLiteral("ほぐれん   Ｖｅｒｓｉｏｎ ３．５"), 0},
        {v.Label2, {96, 40, 201, 17}, {}, 0},
        {v.Command1, {328, 8, 57, 25}, QStringLiteral("Ｏ　Ｋ"), 0},
        {v.Image1, {16, 16, 32, 32}, {}, 0},
    });
    QVERIFY(!v.Label2->text().isEmpty());
    QVERIFY(hasPicture(v.Image1, false));
    QCOMPARE(tabChain(v.Command1), QList<QWidget *>{v.Command1});
    QCOMPARE(v.Image1->focusPolicy(), Qt::NoFocus);
}

QTEST_MAIN(TstLayout)
#include "tst_layout.moc"
