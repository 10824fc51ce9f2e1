// The catalogue of texts: the program's own Japanese texts byte for byte, an English one for each,
// and the choice of language from the environment.
#include "ui/texts.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <string>

#include "convert/limits.h"
#include "ui/dialog_templates.h"
#include "version.h"

namespace quorvane {
namespace {

// The texts users and their documents know, exactly as the program has always shown them.
TEST(CatalogueTest, JapaneseTextsAreThoseThePeopleKnow) {
  const std::string largest = std::to_string(kLargestDecimal);
  const struct {
    TextId id;
    std::string japanese;
  } rows[] = {
      /* 0*/ {TextId::kMainCaption, "Quorvane"},
      /* 1*/ {TextId::kExitButton, "終了"},
      /* 2*/ {TextId::kVersionButton, "バージョン情報"},
      /* 3*/ {TextId::kConvertButton, "１０進数に変換"},
      /* 4*/ {TextId::kInputLabel, "正数の２進数を入力して下さい。"},
      /* 5*/ {TextId::kAutoRunBox, "自動実行する"},
      /* 6*/ {TextId::kShowMessagesBox, "メッセージを表示する"},
      /* 7*/
      {TextId::kFullPathLabel,
       "本ソフトウェアのフルパスです。プロセス起動させる時にご使用下さい。"},
      /* 8*/ {TextId::kVersionCaption, "バージョン情報"},
      /* 9*/ {TextId::kOkButton, "OK"},
      /*10*/ {TextId::kNotBinary, "0と1で構成された２進数値以外は入力できません。"},
      /*11*/ {TextId::kAutoFileCreated, "自動処理設定用ディレクトリーを作成しました。"},
      /*12*/
      {TextId::kAutoFileNotCreated,
       "自動処理設定用ディレクトリーが既に有るので作成できませんでした。"},
      /*13*/
      {TextId::kInputMissing,
       "２進数が記述された「Bintake.tbin」ファイルがりません。\r\n処理を中止します。"},
      /*14*/
      {TextId::kInputEmpty,
       "２進数が記述された「Bintake.tbin」ファイルの中身が空です。\r\n処理を中止します。"},
      /*15*/
      {TextId::kInputNotBinary,
       "２進数が記述された「Bintake.tbin」ファイルに、数値以外の文字が書かれていました。\r\n"
       "処理を中止します。"},
      /*16*/
      {TextId::kLineTooLong, "計算できる最大値の" + largest + "を超えました。" + largest +
                                 "以下の２進数値で実行して下さい。\r\n処理を中止します。"},
      /*17*/ {TextId::kCompleted, "処理を完了しました。"},
      /*18*/
      {TextId::kInputTooLarge, "２進数が記述された「Bintake.tbin」ファイルが" +
                                   std::to_string(kReadLimit) +
                                   "バイトを超えています。\r\n処理を中止します。"},
      /*19*/ {TextId::kProgressName, "進捗率"},
      /*20*/
      {TextId::kVersionLine, "Quorvane\u3000Ver" + std::to_string(QUORVANE_VERSION_MAJOR) + "." +
                                 std::to_string(QUORVANE_VERSION_MINOR) + "." +
                                 std::to_string(QUORVANE_VERSION_PATCH)},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    EXPECT_EQ(Text(rows[row].id, Language::kJapanese), rows[row].japanese);
  }
  EXPECT_EQ(ProgressLabel(25), "進捗率\u300025 %");  // Japanese until a language is set
}

// Every entry has its English, in plain ASCII, with the same placeholders.
TEST(CatalogueTest, EveryJapaneseTextHasItsEnglishOne) {
  const std::regex placeholder(R"(\{[^}]*\})");
  for (const CatalogueEntry& entry : Catalogue()) {
    const std::string japanese = entry.japanese;
    const std::string english = entry.english;
    SCOPED_TRACE(japanese);
    EXPECT_EQ(japanese.empty(), english.empty());
    for (char c : english) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << english;
    std::set<std::string> in_japanese, in_english;
    for (auto it = std::sregex_iterator(japanese.begin(), japanese.end(), placeholder);
         it != std::sregex_iterator(); ++it) {
      in_japanese.insert(it->str());
    }
    for (auto it = std::sregex_iterator(english.begin(), english.end(), placeholder);
         it != std::sregex_iterator(); ++it) {
      in_english.insert(it->str());
    }
    EXPECT_EQ(in_japanese, in_english);
  }
  EXPECT_EQ(ProgressLabel(7).empty(), false);
  EXPECT_EQ(Format(TextId::kArgumentTooLong, Language::kEnglish, {"{2}"}),
            "'{2}' has more than " + std::to_string(kMaxLineDigits) +
                " digits: the largest number is " + std::to_string(kLargestDecimal));
}

// The language as gettext would choose it from the environment.
TEST(CatalogueTest, LanguageFollowsTheEnvironmentAsGettextReadsIt) {
  static std::map<std::string, std::string> environment;
  const auto get = [](const char* name) -> const char* {
    auto found = environment.find(name);
    return found == environment.end() ? nullptr : found->second.c_str();
  };
  const struct {
    std::map<std::string, std::string> variables;
    Language language;
  } rows[] = {
      /* 0*/ {{}, Language::kJapanese},
      /* 1*/ {{{"LANG", "C"}}, Language::kJapanese},
      /* 2*/ {{{"LANG", "C.UTF-8"}, {"LANGUAGE", "en"}}, Language::kJapanese},
      /* 3*/ {{{"LANG", "POSIX"}}, Language::kJapanese},
      /* 4*/ {{{"LANG", "ja_JP.UTF-8"}}, Language::kJapanese},
      /* 5*/ {{{"LANG", "en_US.UTF-8"}}, Language::kEnglish},
      /* 6*/ {{{"LANG", "de_DE.UTF-8"}}, Language::kEnglish},
      /* 7*/ {{{"LANG", "ja_JP.UTF-8"}, {"LC_ALL", "en_GB.UTF-8"}}, Language::kEnglish},
      /* 8*/ {{{"LANG", "en_US.UTF-8"}, {"LC_MESSAGES", "ja_JP.UTF-8"}}, Language::kJapanese},
      /* 9*/ {{{"LANG", "ja_JP.UTF-8"}, {"LC_ALL", ""}}, Language::kJapanese},  // empty: unset
      /*10*/ {{{"LANG", "en_US.UTF-8"}, {"LANGUAGE", "fr:ja:en"}}, Language::kJapanese},
      /*11*/ {{{"LANG", "ja_JP.UTF-8"}, {"LANGUAGE", "en_GB"}}, Language::kEnglish},
      /*12*/ {{{"LC_ALL", "C"}, {"LANG", "en_US.UTF-8"}}, Language::kJapanese},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    environment = rows[row].variables;
    EXPECT_EQ(LanguageOfEnvironment(get), rows[row].language);
  }
  EXPECT_EQ(LanguageOfWindowsUiLanguage(0x0411), Language::kJapanese);
  EXPECT_EQ(LanguageOfWindowsUiLanguage(0x0409), Language::kEnglish);
  EXPECT_EQ(LanguageOfWindowsUiLanguage(0x0407), Language::kEnglish);
}

}  // namespace
}  // namespace quorvane
