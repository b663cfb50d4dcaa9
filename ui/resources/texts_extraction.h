#pragma once
// Texts of the extraction run and its completion report.
#include <QString>

namespace texts::extraction {

// Completion report.
inline const QString kReportCaption = QStringLiteral("ほぐれん３．５  解凍終了報告");
inline const QString kReportMessage = QStringLiteral("解凍作業を終了しました。");
inline const QString kReportButton = QStringLiteral("了  解");

// Message boxes.
inline const QString kErrorTitle = QStringLiteral("エラーメッセージ");
inline const QString kFailed = QStringLiteral("解凍できませんでした。");
inline const QString kCancelled = QStringLiteral("解凍を中止しました。");
inline const QString kLibraryMissing =
    QStringLiteral("解凍ライブラリを読み込めませんでした。\rインストールを確認してください。");
// After kFailed when the chosen volume is no longer mounted at the drop.
inline const QString kDriveNotReady = QStringLiteral("ドライブの準備ができていません。");

// Causes named when the library's report says nothing.
inline const QString kCauseNotArchive = QStringLiteral("LHA書庫ではないか、読み込めないファイルです。");
inline const QString kCauseDamaged = QStringLiteral("書庫が壊れています。");
inline const QString kCauseMethod = QStringLiteral("対応していない圧縮形式です。");
inline const QString kCauseWrite = QStringLiteral("解凍先に書き込めませんでした。");
inline const QString kCauseSkipped = QStringLiteral("解凍しなかったファイルがあります。");
inline const QString kCauseCommand = QStringLiteral("書庫ファイルまたは解凍先フォルダが見つかりません。");
inline const QString kCauseOther = QStringLiteral("解凍ライブラリがエラーを返しました。");

} // namespace texts::extraction
