#pragma once
// Every fixed text of the main window, the title card, the notices, the
// version window and the message box, kept in one place.
#include <QString>

namespace texts {

// Shared
inline const QString kProductName = QStringLiteral("ほぐれん");
inline const QString kCopyright = QStringLiteral("(C) 2026 ほぐれん開発チーム");
inline const QString kMsgBoxOk = QStringLiteral("OK");
inline const QString kMsgBoxCancel = QStringLiteral("キャンセル");
// The endings of an LHA archive's name, compared without regard to case:
// file managers send x.lzh as readily as X.LZH, and .lha is the same format
// under its other name (both are what the desktop entry's types stand for).
inline const QString kArchiveExtension = QStringLiteral("LZH");
inline const QString kArchiveExtensionOther = QStringLiteral("LHA");

// Main window
inline const QString kForm2Caption = QStringLiteral("ほぐれん  Ｖｅｒｓｉｏｎ ３．５");
inline const QString kForm2Instruction = QStringLiteral(
    "解凍先フォルダを指定してフロッピーアイコンをドライブアイコンへドラッグ＆ドロップしてください。");
inline const QString kForm2Run = QStringLiteral("解 凍 実 行");
inline const QString kForm2Source = QStringLiteral("解凍元ファイル");
inline const QString kForm2Label1Design = QStringLiteral("Label1");
inline const QString kForm2Destination = QStringLiteral("解凍先フォルダ");
inline const QString kForm2NewFolder = QStringLiteral("新規フォルダ作成");
inline const QString kVersionButton = QStringLiteral("バージョン情報");
inline const QString kForm2Cancel = QStringLiteral("キャンセル");
inline const QString kForm2Text2Design = QStringLiteral("Text2");

// Title card
inline const QString kTitleVersion = QStringLiteral("Ｖｅｒｓｉｏｎ．３．５");

// Start-without-file notice
inline const QString kForm3Caption = QStringLiteral("ほぐれん３．５");
inline const QString kForm3Line1 = QStringLiteral("ほぐれんは単独起動されています。");
inline const QString kForm3Line2 =
    QStringLiteral("解凍したいファイルをドラッグ＆ドロップして起動してください。");
inline const QString kForm3Line3 = QStringLiteral("詳しくは説明書テキストを参照してください。");
inline const QString kForm3Ok = QStringLiteral("了  解");

// Not-an-archive notice
inline const QString kForm10Caption = QStringLiteral("ほぐれん   Ｖｅｒｓｉｏｎ．３．５");
inline const QString kForm10Line = QStringLiteral(
    "あなたが指定したファイルはLHA形式のファイルではありません。");
inline const QString kForm10Ok = QStringLiteral("了       解");

// Version window
inline const QString kForm5Caption = QStringLiteral("バージョン情報");
inline const QString kForm5Name = QStringLiteral("ほぐれん   Ｖｅｒｓｉｏｎ ３．５");
inline const QString kForm5Ok = QStringLiteral("Ｏ　Ｋ");

} // namespace texts
