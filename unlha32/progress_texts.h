#pragma once
// Texts of the library's own windows: the progress window and the question
// asked before an existing file is replaced. UTF-8.

namespace unlha::texts {

inline constexpr const char *progressCaption = "ほぐれん - 解凍中";
inline constexpr const char *archiveHeading = "書庫：";
inline constexpr const char *fileHeading = "ファイル：";
inline constexpr const char *preparing = "準備しています…";
inline constexpr const char *stopping = "中止しています…";
inline constexpr const char *cancelButton = "キャンセル";
// "%1 / %2" with sizes such as "1.2 MB"; the file count follows in brackets.
inline constexpr const char *bytesOfTotal = "%1 / %2";
inline constexpr const char *fileCount = "（%1 / %2 ファイル）";
inline constexpr const char *bytesUnit = "バイト";

inline constexpr const char *overwriteCaption = "ほぐれん - 上書きの確認";
inline constexpr const char *overwriteExists = "次のファイルは既にあります。";
inline constexpr const char *overwriteQuestion = "上書きしますか？";
inline constexpr const char *overwriteReplace = "上書き";
inline constexpr const char *overwriteSkip = "スキップ";
inline constexpr const char *overwriteReplaceAll = "すべて上書き";
inline constexpr const char *overwriteSkipAll = "すべてスキップ";
inline constexpr const char *overwriteCancel = "中止";

} // namespace unlha::texts
