#pragma once
// The program's two faces, with substitutes found on Debian when the
// original Windows fonts are missing.
#include <QFont>
#include <QStringList>

// The proportional gothic used for all sized text (regular weight).
QFont msPGothic(double pointSize);
// The rounded face of the title card (bold).
QFont maruGothic(double pointSize);
// The family list behind msPGothic(), also the application's default font.
QStringList gothicFamilies();
