#include "ui/texts.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <string_view>

#include "convert/limits.h"
#include "version.h"

namespace quorvane {
namespace {

// clang-format off
constexpr CatalogueEntry kCatalogue[] = {
    {TextId::kNone, "", ""},
    {TextId::kMainCaption, "Quorvane", "Quorvane"},
    {TextId::kExitButton, "終了", "Exit"},
    {TextId::kVersionButton, "バージョン情報", "Version"},
    {TextId::kConvertButton, "１０進数に変換", "To decimal"},
    {TextId::kInputLabel, "正数の２進数を入力して下さい。", "Enter a binary number:"},
    {TextId::kAutoRunBox, "自動実行する", "Auto-run"},
    {TextId::kShowMessagesBox, "メッセージを表示する", "Show messages"},
    {TextId::kPromotion1, "ブレンヴェイルは、小さな便利を作っています。",
     "Brenvale makes small, handy things."},
    {TextId::kPromotion2, "Quorvaneは２進数を10進数に変換するソフトウェアです。",
     "Quorvane converts binary numbers to decimal."},
    {TextId::kPromotion3, "他のプログラムから自動実行させることもできます。",
     "Other programs can also run it automatically."},
    {TextId::kPromotion4, "ご意見・ご要望は、下のサイトからお寄せ下さい。",
     "Send comments and requests through the site below."},
    {TextId::kPromotion5, "便利な道具のご購入は、下のウェブショップでどうぞ。",
     "Handy tools can be bought in the web shop below."},
    {TextId::kSiteLink, "https://www.brenvale.example/", "https://www.brenvale.example/"},
    {TextId::kShopLink, "https://shop.brenvale.example/quorvane/",
     "https://shop.brenvale.example/quorvane/"},
    {TextId::kFullPathLabel, "本ソフトウェアのフルパスです。プロセス起動させる時にご使用下さい。",
     "Full path, to start it:"},
    {TextId::kOutputName, "10進数", "Decimal"},
    {TextId::kProgressName, "進捗率", "Progress"},
    {TextId::kProgressLabel, "進捗率　{1} %", "Progress {1} %"},

    {TextId::kVersionCaption, "バージョン情報", "Version"},
    {TextId::kOkButton, "OK", "OK"},
    {TextId::kVersionLine, "Quorvane　Ver{version3}", "Quorvane Ver{version3}"},
    {TextId::kAuthorLine, "作者：ブレンヴェイル ソフトウェア工房",
     "Author: Brenvale Software Workshop"},
    {TextId::kToolLine, "手入力でも、自動実行でも使える変換ツールです。",
     "A converter for typing by hand or for automatic runs."},
    {TextId::kReportLine, "不具合のご報告は、メインウィンドウのサイトからお願いします。",
     "Please report faults through the site in the main window."},
    {TextId::kThanksLine, "お使いいただき、ありがとうございます。", "Thank you for using it."},
    {TextId::kCopyrightLine, "Copyright (C) 2026 Brenvale. All rights reserved.",
     "Copyright (C) 2026 Brenvale. All rights reserved."},
    {TextId::kWarrantyLine, "本ソフトウェアは無保証で提供されます。",
     "This software comes with no warranty."},

    {TextId::kNotBinary, "0と1で構成された２進数値以外は入力できません。",
     "Only binary numbers made of 0 and 1 can be entered."},
    {TextId::kAutoFileCreated, "自動処理設定用ディレクトリーを作成しました。",
     "The folder for automatic processing was created."},
    {TextId::kAutoFileNotCreated,
     "自動処理設定用ディレクトリーが既に有るので作成できませんでした。",
     "The folder for automatic processing already exists, so it was not created."},
    // Unticking auto-run removes the drop folder only when it is empty: a calling program's files
    // are never deleted, so automatic mode stays on while they are there.
    {TextId::kAutoFileKept,
     "自動処理設定用ディレクトリーにファイルが有るので削除しませんでした。\r\n"
     "ディレクトリーが空になるまで自動実行は有効のままです。",
     "The folder for automatic processing holds files, so it was not deleted.\r\n"
     "Automatic processing stays on until the folder is empty."},
    {TextId::kAutoFileNotRemoved,
     "自動処理設定用ディレクトリーを削除できませんでした。\r\n"
     "ディレクトリーが有る間は自動実行は有効のままです。",
     "The folder for automatic processing could not be deleted.\r\n"
     "Automatic processing stays on while the folder exists."},
    {TextId::kInputMissing,
     "２進数が記述された「Bintake.tbin」ファイルがりません。\r\n処理を中止します。",
     "The file \"Bintake.tbin\" with the binary numbers is missing.\r\nProcessing stopped."},
    {TextId::kInputEmpty,
     "２進数が記述された「Bintake.tbin」ファイルの中身が空です。\r\n処理を中止します。",
     "The file \"Bintake.tbin\" with the binary numbers is empty.\r\nProcessing stopped."},
    {TextId::kInputUnreadable,
     "２進数が記述された「Bintake.tbin」ファイルを読み込めませんでした。\r\n処理を中止します。",
     "The file \"Bintake.tbin\" with the binary numbers could not be read.\r\n"
     "Processing stopped."},
    {TextId::kInputNotBinary,
     "２進数が記述された「Bintake.tbin」ファイルに、数値以外の文字が書かれていました。\r\n"
     "処理を中止します。",
     "The file \"Bintake.tbin\" holds characters other than 0, 1 and line breaks.\r\n"
     "Processing stopped."},
    {TextId::kInputTooLarge,
     "２進数が記述された「Bintake.tbin」ファイルが{read_limit}バイトを超えています。\r\n"
     "処理を中止します。",
     "The file \"Bintake.tbin\" is larger than {read_limit} bytes.\r\nProcessing stopped."},
    {TextId::kLineTooLong,
     "計算できる最大値の{largest}を超えました。{largest}以下の２進数値で実行して下さい。\r\n"
     "処理を中止します。",
     "A number exceeds {largest}, the largest value that can be computed. Use binary numbers "
     "no larger than that.\r\nProcessing stopped."},
    {TextId::kResultNotWritten,
     "結果ファイル「Decyield.tbin」を書き込めませんでした。\r\n"
     "「Bintake.tbin」ファイルはそのまま残します。\r\n処理を中止します。",
     "The result file \"Decyield.tbin\" could not be written.\r\n"
     "The file \"Bintake.tbin\" is left as it is.\r\nProcessing stopped."},
    {TextId::kInputNotDeleted,
     "結果ファイル「Decyield.tbin」は書き込みましたが、「Bintake.tbin」ファイルを削除できませんでした。",
     "The result file \"Decyield.tbin\" was written, but the file \"Bintake.tbin\" could not be "
     "deleted."},
    {TextId::kInputChanged,
     "２進数が記述された「Bintake.tbin」ファイルが処理中に書き換えられたので、削除せずに残します。\r\n"
     "結果ファイル「Decyield.tbin」は書き換えられる前の内容で書き込みました。",
     "The file \"Bintake.tbin\" was written to during processing, so it is kept.\r\n"
     "The result file \"Decyield.tbin\" holds what it held before."},
    {TextId::kNoDocumentsFolder, "ドキュメント フォルダーが見つかりません。\r\n処理を中止します。",
     "The Documents folder cannot be found.\r\nProcessing stopped."},
    {TextId::kCompleted, "処理を完了しました。", "Processing is complete."},
    {TextId::kInputLeftUnder, "「Bintake.tbin」ファイルは「{1}」として残っています。",
     "The file \"Bintake.tbin\" is kept as \"{1}\"."},
    {TextId::kResultNotDurable,
     "新しい「Decyield.tbin」は置かれましたが、停電で失われることがあります。",
     "The new \"Decyield.tbin\" is in place, but a power cut may still take it away."},
    {TextId::kCause, "原因: 「{2}」の{1}に失敗しました: {3}", "Cause: {1} \"{2}\" failed: {3}"},
    {TextId::kStepStatus, "状態の確認", "looking up"},
    {TextId::kStepOpen, "オープン", "opening"},
    {TextId::kStepRead, "読み込み", "reading"},
    {TextId::kStepCreate, "作成", "creating"},
    {TextId::kStepWrite, "書き込み", "writing"},
    {TextId::kStepFlush, "ディスクへの書き出し", "flushing to disk"},
    {TextId::kStepClose, "クローズ", "closing"},
    {TextId::kStepRename, "名前の変更", "renaming"},
    {TextId::kStepSyncFolder, "フォルダーのディスクへの書き出し", "syncing the folder"},
    {TextId::kStepDelete, "削除", "deleting"},
    {TextId::kStepList, "一覧の取得", "listing"},
    {TextId::kStepLock, "ロック", "locking"},
    {TextId::kStepMakeFolder, "フォルダーの作成", "making the folder"},
    {TextId::kStepRemoveFolder, "フォルダーの削除", "removing the folder"},
    {TextId::kHeldForWriting, "別のプログラムが書き込み用に開いています",
     "another program holds it open for writing"},
    {TextId::kChangedWhileRead, "読み込み中に変更されました", "it changed while it was read"},
    {TextId::kNotAPlainFile, "通常のファイルではありません（フォルダーなど）",
     "not a plain file (a folder, a pipe or a device)"},
    {TextId::kMarkedReadOnly, "読み取り専用です", "it is marked read-only"},
    {TextId::kRunRecord,
     "自動実行（{1}）: 終了状態 {2}: {3} 入力 {4} バイト、{5} 行、{6} ミリ秒",
     "automatic run ({1}): status {2}: {3} Input {4} bytes, {5} lines, {6} ms"},
    {TextId::kPlainStart, "引数なしの起動", "started without options"},
    {TextId::kDropFolderAt, "自動処理設定用ディレクトリー: {1}", "The folder: {1}"},
    {TextId::kNoDropFolder, "自動処理設定用ディレクトリー「{1}」がありません。",
     "The folder for automatic processing \"{1}\" does not exist."},
    {TextId::kAtLine, "（{1}行目）", "(line {1})"},

    // Kept in step with docs/quorvane.1, which says the same in English at more length; a test
    // compares the options and the exit statuses of the two.
    {TextId::kUsage,
     R"(使い方: quorvane [--dialog | --batch | --where | --help | --version]
        quorvane --convert [数値...]

符号なしの２進数（0と1の文字列、{digits}桁まで）を10進数に変換します。ダイアログで、
ドロップフォルダーを通して他のプログラムから、またはコマンドラインで使えます。

オプション:
  --dialog   AutoFile が有ってもダイアログを開きます。自動実行はしません
  --batch    他のプログラムからのドロップフォルダーの実行: ウィンドウを開かず、人を待ちません。
             0 以外の終了ステータスでは標準エラーに１行を書きます
  --where    使うパスを name=path の行で、この順に表示します:
             autofile= input= result= settings= （UTF-8）。何も作成しません
  --convert [数値...]
             各数値の10進数を１行ずつ表示します。数値が無い時は標準入力を、
             ドロップファイルと同じ規則で１行ずつ、長さに制限なく変換します
  --help     この説明を表示して終了します
  --version  バージョンを表示して終了します
Windows では /dialog、/batch、/where、/convert、/help、/version とも書けます。/? は --help
です。オプションでない引数は無視します。

他のプログラムからの安全な使い方:
  1. フォルダーを調べる: quorvane --where
  2. AutoFile に別の名前で書き込み、Bintake.tbin に名前を変える
  3. quorvane --batch を実行して終了を待つ（Windows: start "" /wait Quorvane.exe /batch）
  4. 終了ステータスが 0 の時だけ Result/Decyield.tbin を読む

終了ステータス:
  0   変換しました: Decyield.tbin を書き込み、Bintake.tbin を削除しました（オプション無しの
      起動では、ダイアログを閉じた時も 0 です。--batch では有りません）
  1   ダイアログを表示できません（ディスプレイが無いか、Qt 6 ライブラリが有りません）、
      ドキュメント フォルダーが見つかりません、または --help、--version、--where が
      書き込めませんでした
  2   コマンドラインを解釈できません
  10  Bintake.tbin が有りません（またはフォルダーです）。--batch では AutoFile が無い時も
  11  Bintake.tbin が 0 バイトです
  12  Bintake.tbin を読み込めません: 書き込み中のプログラムが開いたままか、読み込みエラー
      （--convert: 標準入力を読み込めません）
  13  0、1、CR、LF 以外のバイトが有ります。テキストの後に続くだけのゼロバイトは終わりです
      （--convert: メッセージが引数か行を示します）
  14  Bintake.tbin が {read_limit_grouped} バイトを超えています
  15  {digits}桁を超える行が有ります（--convert: メッセージが引数か行を示します）
  16  Decyield.tbin を書き込めません（--convert: 標準出力に書き込めません）
  17  Decyield.tbin は書き込みましたが、Bintake.tbin を削除できません
  18  別の Quorvane がドロップフォルダーを処理中です
  19  処理中に Bintake.tbin が書き換えられました。Decyield.tbin は書き換え前の内容の結果です
  20  メモリーが足りません
  Bintake.tbin は 0 の時だけ削除します。19 では書き足された内容のまま残し、それ以外では
  そのまま残します。

ファイル（ドキュメント フォルダー: XDG_DOCUMENTS_DIR、無ければ ~/Documents の下）:
  Brenvale/MFCQuorvane/AutoFile/Bintake.tbin  入力: １行に１つの２進数
  Brenvale/MFCQuorvane/Result/Decyield.tbin   結果: １行に１つの10進数、CR LF
  Brenvale/MFCQuorvane/temp/Quorvane.tmp      ダイアログの２つのチェックボックス
  Brenvale/MFCQuorvane/temp/Quorvane.lock     ドロップフォルダーの処理中に保持します

詳しい説明と例はマニュアルページ quorvane(1) に有ります（英語）。
)",
     R"(Usage: quorvane [--dialog | --batch | --where | --help | --version]
       quorvane --convert [NUMBER...]

Converts unsigned binary numbers (texts of 0 and 1, at most {digits} digits) to decimal: in a dialog,
for calling programs through the drop folder, or on the command line.

Options:
  --dialog   open the dialog even while AutoFile exists; no automatic run
  --batch    a calling program's run of the drop folder: never opens a window or waits
             for a person; one line on standard error on every status but 0
  --where    print the paths in use, one name=path line each, in this order:
             autofile= input= result= settings= (UTF-8); creates nothing
  --convert [NUMBER...]
             print each NUMBER's decimal value on a line of its own; without NUMBER,
             convert standard input as a drop file is read, line by line, of any length
  --help     print this help and end
  --version  print the version and end
On Windows each option may also be written /dialog, /batch, /where, /convert, /help,
/version, and /? is --help. Arguments that are not options are ignored.

Calling programs, safely:
  1. find the folders: quorvane --where
  2. write the input under another name in AutoFile, then rename it to Bintake.tbin
  3. run quorvane --batch and wait for it (Windows: start "" /wait Quorvane.exe /batch)
  4. read Result/Decyield.tbin only when the status is 0

Exit status:
  0   converted: Decyield.tbin is written and Bintake.tbin deleted (a start without
      options also ends 0 when a person closes the dialog; --batch never does)
  1   the dialog could not be shown (no display, or the Qt 6 libraries are missing),
      no Documents folder could be found, or --help, --version or --where could not
      write their text
  2   the command line was not understood
  10  Bintake.tbin is missing (or a folder); with --batch also when AutoFile is
  11  Bintake.tbin has 0 bytes
  12  Bintake.tbin could not be read: its writer still holds it open for writing, or a
      read error (--convert: standard input could not be read)
  13  a byte other than 0, 1, CR and LF; zero bytes that only trail the text end it
      (--convert: the message names the argument or the line)
  14  Bintake.tbin is larger than {read_limit_grouped} bytes
  15  a line has more than {digits} digits (--convert: the message names the argument or line)
  16  Decyield.tbin could not be written (--convert: standard output could not be written)
  17  Decyield.tbin was written, but Bintake.tbin could not be deleted
  18  another copy of Quorvane is working on the drop folder
  19  Bintake.tbin was written to during the run; Decyield.tbin holds what was read before
  20  not enough memory
  Bintake.tbin is deleted only on 0. On 19 it is kept with what its writer added; on
  every other status it is left as it was.

Files, under the Documents folder (XDG_DOCUMENTS_DIR, else ~/Documents):
  Brenvale/MFCQuorvane/AutoFile/Bintake.tbin  input: one binary number per line
  Brenvale/MFCQuorvane/Result/Decyield.tbin   result: one decimal number per line, CR LF
  Brenvale/MFCQuorvane/temp/Quorvane.tmp      the dialog's two check boxes
  Brenvale/MFCQuorvane/temp/Quorvane.lock     held while a copy works on the drop folder

The manual page quorvane(1) has the details and examples.
)"},
    {TextId::kVersionOutput, "quorvane {version}", "quorvane {version}"},
    {TextId::kHelpHintPosix, "詳しくは 'quorvane --help' を実行して下さい。\n",
     "Try 'quorvane --help' for more information.\n"},
    {TextId::kHelpHintWindows, "詳しくは 'Quorvane.exe /?' を実行して下さい。\n",
     "Try 'Quorvane.exe /?' for more information.\n"},
    {TextId::kUnrecognizedOption, "'{1}' は認識できないオプションです",
     "unrecognized option '{1}'"},
    {TextId::kOneModeOnly, "--batch、--where、--convert はどれか１つだけ指定できます",
     "only one of --batch, --where and --convert may be given"},
    {TextId::kDialogWithBatch, "--dialog と --batch は同時に指定できません",
     "--dialog and --batch cannot be given together"},
    {TextId::kIgnoredArguments, "オプションでないので無視しました:{1}。数値を変換するには: {2}",
     "ignored, not an option:{1}. To convert numbers: {2}"},
    {TextId::kNoDocumentsForWhere, "ドキュメント フォルダーが見つかりません（ホームフォルダーが有りません）",
     "no Documents folder can be found (no home folder)"},
    {TextId::kPathsNotWritten, "パスを標準出力に書き込めませんでした",
     "the paths could not be written to standard output"},
    {TextId::kArgumentNotBinary, "'{1}' は２進数ではありません: 0 と 1 だけが使えます",
     "'{1}' is not a binary number: only 0 and 1 may be used"},
    {TextId::kArgumentTooLong, "'{1}' は{digits}桁を超えています: 最大値は {largest} です",
     "'{1}' has more than {digits} digits: the largest number is {largest}"},
    {TextId::kOutputNotWritten, "標準出力に書き込めませんでした",
     "standard output could not be written"},
    {TextId::kInputNotRedirected,
     "数値の無い --convert は、リダイレクトされた標準入力だけを読みます",
     "--convert without numbers reads standard input only when it is redirected"},
    {TextId::kInputNotRead, "標準入力を読み込めませんでした", "standard input could not be read"},
    {TextId::kLineNotBinary,
     "{1}行目: 0、1、CR、LF 以外のバイトが有ります。その後は変換していません",
     "line {1}: a byte other than 0, 1, CR and LF; nothing after it was converted"},
    {TextId::kLineTooLongInStream,
     "{1}行目: {digits}桁を超えています（最大値は {largest}）。この行から後は変換していません",
     "line {1}: more than {digits} digits (the largest number is {largest}); nothing from it on "
     "was converted"},
    {TextId::kBusyLine,
     "別の Quorvane がドロップフォルダーを処理中です。何も変更していません。入力はそちらのものかもし"
     "れません。終わるのを待って、もう一度起動して下さい",
     "another copy of Quorvane is working on the drop folder; nothing was touched. The input may "
     "be that copy's: wait for it to end, then start again"},
    // The same in both languages: a calling program's log may be read for it.
    {TextId::kStatusSuffix, " (status {1})", " (status {1})"},
    {TextId::kOutOfMemory, "メモリーが足りないので続けられません。",
     "not enough memory to go on."},
    {TextId::kIgnoredArgumentsOnly, "オプションでないので無視しました:{1}。",
     "ignored, not an option:{1}."},
    {TextId::kMoreArguments, " ほか{1}個", " and {1} more"},
    {TextId::kHomeNotAbsolute,
     "HOME={1} は絶対パスではないので、ドキュメント フォルダーを決められません",
     "HOME={1} is not an absolute path, so it gives no Documents folder"},
    {TextId::kDocumentsNotAbsolute, "ドキュメント フォルダー {1} は絶対パスではありません",
     "the Documents folder {1} is not an absolute path"},
    {TextId::kPathHasLineBreak,
     "ドキュメント フォルダー {1} のパスに改行（CR か LF）が有るので、１行に書けません",
     "the Documents folder {1} has a line break (CR or LF) in its path, which cannot be written "
     "on one line"},

    {TextId::kQtMissing,
     "Qt 6 ライブラリが有りません: {1}。\nダイアログを表示するには、Qt 6 ライブラリ、その表示"
     "プラグイン、日本語フォントをインストールして下さい {2}",
     "the Qt 6 libraries are missing: {1}.\nTo show the dialog, install the Qt 6 libraries, "
     "their display plugins and the Japanese font {2}"},
    {TextId::kNotAFrontEnd, "{1} は Quorvane のフロントエンドではありません",
     "{1} is not a Quorvane front end"},
    {TextId::kFrontEndNotFound, "実行ファイルの隣に libquorvane_qt.so が有りません",
     "libquorvane_qt.so was not found next to the executable"},
    {TextId::kNoDisplayOpened, "ディスプレイを開けませんでした", "no display could be opened"},
    {TextId::kNoDisplaySet, "ディスプレイが有りません（DISPLAY と WAYLAND_DISPLAY が未設定です）",
     "there is no display (DISPLAY and WAYLAND_DISPLAY are unset)"},
    {TextId::kDocumentsNotFound,
     "ドキュメント フォルダー {1} が見つからないか、作成できません（HOME={2}）。",
     "the Documents folder {1} cannot be found or created (HOME={2})."},
    {TextId::kDialogNeedsFrontEnd,
     "ダイアログにはデスクトップのフロントエンドが必要です: {1}。\n"
     "AutoFile ドロップフォルダーによる自動処理は、それが無くても動きます。",
     "the interactive dialog needs the desktop front end: {1}.\n"
     "Automatic processing through the AutoFile drop folder works without it."},
    {TextId::kNoMessageBox,
     "デスクトップのフロントエンドを開始できないので、メッセージボックスを表示しません: {1}。",
     "no message box, the desktop front end could not start: {1}."},
    {TextId::kPlatformShowsNothing, "QT_QPA_PLATFORM={1} では誰にも見えるウィンドウが出ません",
     "QT_QPA_PLATFORM={1} shows no window anyone could see"},
    {TextId::kPlatformNotInstalled,
     "使える Qt プラットフォームプラグインが有りません: {1} がインストールされていません",
     "no usable Qt platform plugin: {1} is not installed"},
    {TextId::kInstallWayland, "（Debian、Ubuntu: sudo apt install qt6-wayland）",
     " (Debian, Ubuntu: sudo apt install qt6-wayland)"},
    {TextId::kInstallXcb, "（Debian、Ubuntu: sudo apt install qt6-qpa-plugins）",
     " (Debian, Ubuntu: sudo apt install qt6-qpa-plugins)"},
    {TextId::kNoDisplayAt, "ディスプレイを開けませんでした（DISPLAY={1}）",
     "no display could be opened (DISPLAY={1})"},
    {TextId::kNoWaylandCompositor,
     "使える Qt プラットフォームプラグインが有りません: WAYLAND_DISPLAY={1} に応答する Wayland "
     "コンポジターが有りません",
     "no usable Qt platform plugin: no Wayland compositor answers at WAYLAND_DISPLAY={1}"},
};
// clang-format on

static_assert(std::size(kCatalogue) == static_cast<size_t>(TextId::kCount));
constexpr bool InIdOrder() {
  for (size_t i = 0; i < std::size(kCatalogue); ++i) {
    if (kCatalogue[i].id != static_cast<TextId>(i)) return false;
  }
  return true;
}
static_assert(InIdOrder(), "the catalogue is indexed by TextId");

Language current_language = Language::kJapanese;

// 2077000 as "2,077,000".
std::string Grouped(uint64_t value) {
  std::string digits = std::to_string(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

void ReplaceAll(std::string& text, std::string_view name, std::string_view value) {
  for (size_t at = text.find(name); at != std::string::npos;
       at = text.find(name, at + value.size())) {
    text.replace(at, name.size(), value);
  }
}

// One text with the limits and the version in place. Only texts that hold a placeholder are
// searched, so a run that shows two texts does not pay for the whole catalogue.
std::string Filled(const CatalogueEntry& entry, Language language) {
  std::string text = language == Language::kJapanese ? entry.japanese : entry.english;
  if (text.find('{') == std::string::npos) return text;
  ReplaceAll(text, "{digits}", std::to_string(kMaxLineDigits));
  ReplaceAll(text, "{largest}", std::to_string(kLargestDecimal));
  ReplaceAll(text, "{read_limit_grouped}", Grouped(kReadLimit));
  ReplaceAll(text, "{read_limit}", std::to_string(kReadLimit));
  ReplaceAll(text, "{version3}",
             std::to_string(QUORVANE_VERSION_MAJOR) + "." + std::to_string(QUORVANE_VERSION_MINOR) +
                 "." + std::to_string(QUORVANE_VERSION_PATCH));
  ReplaceAll(text, "{version}", QUORVANE_VERSION);
  return text;
}

// Each text is filled in the first time it is asked for, once per language, and kept for the
// life of the process: callers hold the references. Two threads that ask at once both fill it
// and one copy is kept; nothing waits and no system call is made.
constexpr size_t kLanguages = 2;
std::atomic<const std::string*> filled_texts[kLanguages][static_cast<size_t>(TextId::kCount)];

bool StartsWith(const char* text, std::string_view prefix) {
  return text != nullptr && std::string_view(text).starts_with(prefix);
}

// "C", "POSIX" and their variants ("C.UTF-8") name no language.
bool NamesNoLanguage(std::string_view locale) {
  const std::string_view name = locale.substr(0, locale.find_first_of(".@"));
  return name == "C" || name == "POSIX";
}

}  // namespace

std::span<const CatalogueEntry> Catalogue() { return kCatalogue; }

Language CurrentLanguage() { return current_language; }
void SetLanguage(Language language) { current_language = language; }

Language LanguageOfEnvironment(const char* (*get)(const char* name)) {
  const char* locale = nullptr;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = get(name);
    if (value != nullptr && *value != '\0') {
      locale = value;
      break;
    }
  }
  if (locale == nullptr || NamesNoLanguage(locale)) return Language::kJapanese;
  // LANGUAGE lists languages in order of preference; the first one there is a catalogue for
  // decides, as in gettext.
  if (const char* list = get("LANGUAGE")) {
    std::string_view rest = list;
    while (!rest.empty()) {
      const std::string_view item = rest.substr(0, rest.find(':'));
      rest.remove_prefix(std::min(rest.size(), item.size() + 1));
      if (item.starts_with("ja")) return Language::kJapanese;
      if (item.starts_with("en")) return Language::kEnglish;
    }
  }
  return StartsWith(locale, "ja") ? Language::kJapanese : Language::kEnglish;
}

Language LanguageOfWindowsUiLanguage(uint16_t language_id) {
  constexpr uint16_t kPrimaryMask = 0x3FF;
  constexpr uint16_t kJapanese = 0x11;  // LANG_JAPANESE
  return (language_id & kPrimaryMask) == kJapanese ? Language::kJapanese : Language::kEnglish;
}

const std::string& Text(TextId id, Language language) {
  const size_t index = static_cast<size_t>(id);
  std::atomic<const std::string*>& slot =
      filled_texts[language == Language::kJapanese ? 0 : 1][index];
  const std::string* text = slot.load(std::memory_order_acquire);
  if (text == nullptr) {
    const std::string* filled = new std::string(Filled(kCatalogue[index], language));
    if (slot.compare_exchange_strong(text, filled, std::memory_order_acq_rel)) {
      text = filled;
    } else {
      delete filled;  // another thread's copy was kept
    }
  }
  return *text;
}

const std::string& Text(TextId id) { return Text(id, current_language); }

std::string Format(TextId id, Language language,
                   std::initializer_list<std::string_view> arguments) {
  // One pass, so that an argument that looks like a placeholder stays as it is.
  const std::string& pattern = Text(id, language);
  std::string text;
  for (size_t at = 0; at < pattern.size();) {
    const size_t close = pattern.find('}', at);
    const bool placeholder = pattern[at] == '{' && close != std::string::npos && close - at == 2 &&
                             pattern[at + 1] >= '1' &&
                             static_cast<size_t>(pattern[at + 1] - '0') <= arguments.size();
    if (placeholder) {
      text += arguments.begin()[pattern[at + 1] - '1'];
      at = close + 1;
    } else {
      text += pattern[at++];
    }
  }
  return text;
}

std::string Format(TextId id, std::initializer_list<std::string_view> arguments) {
  return Format(id, current_language, arguments);
}

std::string ProgressLabel(int percent) {
  return Format(TextId::kProgressLabel, {std::to_string(percent)});
}

std::string OneLine(std::string_view text) {
  std::string line;
  for (char c : text) {
    if (c != '\r') line.push_back(c == '\n' ? ' ' : c);
  }
  return line;
}

}  // namespace quorvane
