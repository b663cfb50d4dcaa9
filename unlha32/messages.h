#pragma once
// Every text of the library that a user reads.

namespace unlha::msg {

// One line per item.
inline constexpr const char *kExtracted = "解凍：";
inline constexpr const char *kSkippedExists = "スキップ（既に存在）：";
inline constexpr const char *kSkippedUnsafePath = "スキップ（安全でないパス）：";
inline constexpr const char *kSkippedLinkOutside = "スキップ（解凍先の外を指すリンク）：";
inline constexpr const char *kSkippedLinkNoTarget = "スキップ（リンク先がありません）：";
inline constexpr const char *kSkippedDevice = "スキップ（デバイスや FIFO は作りません）：";
inline constexpr const char *kSkippedTooLong = "スキップ（名前が長すぎます）：";
inline constexpr const char *kSkippedFolderExists = "スキップ（同じ名前のフォルダがあります）：";
inline constexpr const char *kSkippedFileInWay = "スキップ（同じ名前のファイルがあるためフォルダを作れません）：";
// An entry the destination refused; %2 is the reason.
inline constexpr const char *kSkippedRefused = "スキップ（%2）：%1";
// A temporary file that could not be removed (it was emptied).
inline constexpr const char *kTempLeft = "一時ファイルを削除できませんでした：";
// Stands for an entry whose name is empty.
inline constexpr const char *kNoName = "（名前なし）";

// Stands for the item lines left out of a report that did not fit.
inline constexpr const char *kItemsOmitted = "（以下省略）";

// The cause of a failure, the last line of the report, which the program
// shows as the second line of its box: a sentence ends in "。", a name that
// follows "：" does not. %1 is the entry, or the entries that failed alike:
// their names, kNameSeparator between them, then kMoreNames for those not
// named. Causes of one failure are joined by kCauseSeparator; kMoreEntries
// counts the entries whose cause is left out.
inline constexpr const char *kNameSeparator = "、";
inline constexpr const char *kMoreNames = " ほか %1 件";
inline constexpr const char *kCauseSeparator = "／";
inline constexpr const char *kMoreEntries = "ほか %1 件";
inline constexpr const char *kCauseCrc = "%1：データが壊れています（CRC エラー）。";
inline constexpr const char *kCauseSize = "%1：データが壊れています（大きさが合いません）。";
inline constexpr const char *kCauseDamagedData = "%1：データが壊れています。";
inline constexpr const char *kCauseTruncated = "%1：書庫が途中で切れています。";
inline constexpr const char *kCauseTruncatedHeader = "書庫が途中で切れています。";
inline constexpr const char *kCauseDamagedHeader = "書庫のヘッダーが壊れています（%1 の後）。";
inline constexpr const char *kCauseDamagedFirstEntry = "%1：書庫のヘッダーが壊れています。";
inline constexpr const char *kCauseDamagedFirstHeader = "書庫のヘッダーが壊れています。";
inline constexpr const char *kCauseMethod = "%1：対応していない圧縮方式です（%2）。";
inline constexpr const char *kCauseWrite = "%1：書き込めません（%2）。";
inline constexpr const char *kCauseReadArchive = "書庫を読めません（%2）：%1";
inline constexpr const char *kCauseNotArchive = "LHA 書庫ではありません：%1";
inline constexpr const char *kCauseEmptyFile = "ファイルが空です：%1";
inline constexpr const char *kCauseCancelled = "解凍を中止しました。";
inline constexpr const char *kCauseSkipped = "スキップしたファイルがあります（%1 件）。";
inline constexpr const char *kCauseCommand = "コマンドが正しくありません：%1";
inline constexpr const char *kCauseNoArchive = "書庫が見つかりません：%1";
inline constexpr const char *kCauseArchiveIsFolder = "書庫ではなくフォルダです：%1";
inline constexpr const char *kCauseArchiveNotFile = "書庫が普通のファイルではありません：%1";
inline constexpr const char *kCauseArchivePath = "書庫を開けません（%2）：%1";
inline constexpr const char *kCauseNoDestination = "解凍先のフォルダがありません：%1";
inline constexpr const char *kCauseDestinationPath = "解凍先のフォルダを開けません（%2）：%1";
// The run could not go on for a reason of the library's own, not the
// archive's or the destination's.
inline constexpr const char *kCauseNoMemory = "メモリが足りないため、解凍を中止しました。";
inline constexpr const char *kCauseWindowsFailed = "進行状況の表示でエラーが起きたため、解凍を中止しました。";
inline constexpr const char *kCauseInternal = "ライブラリの内部でエラーが起きたため、解凍を中止しました。";

// System errors in words, in place of the C library's texts, which follow
// the locale and which a user cannot act on.
inline constexpr const char *kErrNoSpace = "空き容量が足りません";
inline constexpr const char *kErrAccess = "アクセスが拒否されました";
inline constexpr const char *kErrReadOnly = "読み取り専用です";
inline constexpr const char *kErrNameTooLong = "名前が長すぎます";
inline constexpr const char *kErrBadName = "この場所では使えない名前です";
inline constexpr const char *kErrQuota = "容量の制限を超えました";
inline constexpr const char *kErrIo = "入出力エラー";
inline constexpr const char *kErrNotReady = "ドライブの準備ができていません";
inline constexpr const char *kErrGone = "フォルダが見つかりません";
inline constexpr const char *kErrTooBig = "この場所には大きすぎるファイルです";
inline constexpr const char *kErrFileInWay = "同じ名前のファイルがあります";
inline constexpr const char *kErrFolderInWay = "同じ名前のフォルダがあります";
inline constexpr const char *kErrExists = "既に存在します";
inline constexpr const char *kErrTooManyLinks = "これ以上作れません";
inline constexpr const char *kErrLinkLoop = "リンクをたどれません";
inline constexpr const char *kErrTooManyFiles = "開いているファイルが多すぎます";
inline constexpr const char *kErrNoMemory = "メモリが足りません";
inline constexpr const char *kErrBusy = "使用中です";
inline constexpr const char *kErrUnsupported = "この場所ではできない操作です";
inline constexpr const char *kErrOther = "システムのエラーです";

} // namespace unlha::msg
