#include "ui/windows/fonts.h"

QStringList gothicFamilies()
{
    return {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
            QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"),
            QStringLiteral("Noto Sans CJK JP"), QStringLiteral("sans-serif")};
}

QFont msPGothic(double pointSize)
{
    QFont f;
    f.setFamilies(gothicFamilies());
    f.setPointSizeF(pointSize);
    f.setWeight(QFont::Normal);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

QFont maruGothic(double pointSize)
{
    QFont f;
    QStringList families{QStringLiteral("HG丸ｺﾞｼｯｸM-PRO"), QStringLiteral("MotoyaLMaru")};
    families += gothicFamilies();
    f.setFamilies(families);
    f.setPointSizeF(pointSize);
    f.setWeight(QFont::Bold);
    f.setStyleHint(QFont::SansSerif);
    return f;
}
