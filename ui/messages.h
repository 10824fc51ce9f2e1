#pragma once

// The texts of the message boxes, exactly as users and their documents know them.
namespace quorvane::messages {

inline constexpr const char* kNotBinary = "0と1で構成された２進数値以外は入力できません。";
inline constexpr const char* kAutoFileCreated = "自動処理設定用ディレクトリーを作成しました。";
inline constexpr const char* kAutoFileNotCreated =
    "自動処理設定用ディレクトリーが既に有るので作成できませんでした。";
// Unticking auto-run removes the drop folder only when it is empty: a calling program's files are
// never deleted, so automatic mode stays on while they are there.
inline constexpr const char* kAutoFileKept =
    "自動処理設定用ディレクトリーにファイルが有るので削除しませんでした。\r\n"
    "ディレクトリーが空になるまで自動実行は有効のままです。";
inline constexpr const char* kAutoFileNotRemoved =
    "自動処理設定用ディレクトリーを削除できませんでした。\r\n"
    "ディレクトリーが有る間は自動実行は有効のままです。";
inline constexpr const char* kInputMissing =
    "２進数が記述された「Bintake.tbin」ファイルがりません。\r\n処理を中止します。";
inline constexpr const char* kInputEmpty =
    "２進数が記述された「Bintake.tbin」ファイルの中身が空です。\r\n処理を中止します。";
inline constexpr const char* kInputNotBinary =
    "２進数が記述された「Bintake.tbin」ファイルに、数値以外の文字が書かれていました。\r\n"
    "処理を中止します。";
inline constexpr const char* kLineTooLong =
    "計算できる最大値の2147483647を超えました。2147483647以下の２進数値で実行して下さい。\r\n"
    "処理を中止します。";
inline constexpr const char* kCompleted = "処理を完了しました。";

// Cases the program once handled by losing data; each now stops with its own message.
inline constexpr const char* kInputTooLarge =
    "２進数が記述された「Bintake.tbin」ファイルが2077000バイトを超えています。\r\n"
    "処理を中止します。";
inline constexpr const char* kResultNotWritten =
    "結果ファイル「Decyield.tbin」を書き込めませんでした。\r\n"
    "「Bintake.tbin」ファイルはそのまま残します。\r\n処理を中止します。";
inline constexpr const char* kInputChanged =
    "２進数が記述された「Bintake."
    "tbin」ファイルが処理中に書き換えられたので、削除せずに残します。\r\n"
    "結果ファイル「Decyield.tbin」は書き換えられる前の内容で書き込みました。";
inline constexpr const char* kNoDocumentsFolder =
    "ドキュメント フォルダーが見つかりません。\r\n処理を中止します。";
inline constexpr const char* kInputNotDeleted =
    "結果ファイル「Decyield.tbin」は書き込みましたが、「Bintake."
    "tbin」ファイルを削除できませんでした。";

}  // namespace quorvane::messages
