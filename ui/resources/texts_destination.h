#pragma once
// Texts of the destination lists and the new-folder dialog.
#include <QString>

namespace texts::destination {

inline const QString kErrorTitle = QStringLiteral("エラーメッセージ");

// A drive that cannot be read.
inline const QString kDriveNotReady = QStringLiteral("ドライブの準備ができていません");
inline const QString kDriveUnknown = QStringLiteral("？？？");
inline const QString kDriveRetry = QStringLiteral("再読み込みしますか？");

// A folder in the folder list that cannot be opened.
inline const QString kOpenFailed = QStringLiteral("フォルダを開けませんでした。");
inline const QString kOpenDeviceNotReady = QStringLiteral("ドライブの準備ができていません。");
inline const QString kOpenRefused = QStringLiteral("このフォルダを読む権限がありません。");
inline const QString kOpenNotFound = QStringLiteral("フォルダが見つかりません。");

// New-folder dialog.
inline const QString kForm1Caption = QStringLiteral("ほぐれん３．５  「フォルダ作成」");
inline const QString kForm1Label2Design = QStringLiteral("******************");
inline const QString kForm1Label3 = QStringLiteral("の下に作成するフォルダの名前を入力してください。");
inline const QString kForm1Label1 = QStringLiteral("フォルダ名 ：");
inline const QString kForm1Create = QStringLiteral("作  成");
inline const QString kForm1Cancel = QStringLiteral("キャンセル");
inline const QString kForm1Text2Design = QStringLiteral("Text2");
inline const QString kPathInvalid = QStringLiteral("パスが無効です。");
inline const QString kUnknownError = QStringLiteral("不明なエラーです。");
inline const QString kRetype = QStringLiteral("再入力してください。");

} // namespace texts::destination
