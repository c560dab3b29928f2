#include "gui/dialogs/password_form.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "fakes/fake_desktop.h"
#include "fakes/test_files.h"
#include "gui/language_captions.h"
#include "settings/ini_file.h"
#include "modal_answer.h"
#include "platform/registry.h"
#include "settings/password.h"

namespace sentrel {
namespace {

using testing::Child;
using testing::WhenShown;

class PasswordFormTest : public ::testing::Test {
 protected:
  PasswordFormTest() { form.SetBeforeShow([this] { ++languageApplied; }); }

  // Answers the input mode with `typed` and "Ok" (or "Cancel").
  static void AnswerInput(const char* typed, const char* button = "Ok") {
    WhenShown("PasswordForm", [typed, button](QDialog& d) {
      EXPECT_TRUE(Child<QLineEdit>(d, "InputPasswordEdit").isVisible());
      EXPECT_FALSE(Child<QLineEdit>(d, "NewPasswordEdit").isVisible());
      Child<QLineEdit>(d, "InputPasswordEdit").setText(typed);
      Child<QPushButton>(d, button).click();
    });
  }
  // Answers the set mode with the new and the confirmed text.
  static void AnswerSet(const char* typed, const char* confirmed) {
    WhenShown("PasswordForm", [typed, confirmed](QDialog& d) {
      EXPECT_FALSE(Child<QLineEdit>(d, "InputPasswordEdit").isVisible());
      EXPECT_FALSE(Child<QLabel>(d, "Input_Password").isVisible());
      EXPECT_TRUE(Child<QLabel>(d, "Confirm_Password").isVisible());
      EXPECT_EQ(d.focusWidget(), &Child<QLineEdit>(d, "NewPasswordEdit"));
      Child<QLineEdit>(d, "NewPasswordEdit").setText(typed);
      Child<QLineEdit>(d, "ConfirmPasswordEdit").setText(confirmed);
      Child<QPushButton>(d, "Ok").click();
    });
  }

  testing::TempDir dir;
  Registry registry{dir.Path() + "/registry.reg"};
  PasswordStore store{registry};
  testing::FakeDesktop desktop;
  PasswordForm form{store, desktop};
  int languageApplied = 0;
};

TEST_F(PasswordFormTest, TheLanguageFileCaptionsTheTitleAndTheLabels) {
  ApplyCaptionsByName(form, LanguageWindow::kPasswordForm,
                      IniFile::Parse("[PasswordForm]\r\nCaption=Kennwort\r\nNew_Password=Neu:\r\n"));
  EXPECT_EQ(form.windowTitle(), "Kennwort");
  EXPECT_EQ(Child<QLabel>(form, "New_Password").text(), "Neu:");
  ApplyCaptionsByName(form, LanguageWindow::kPasswordForm, std::nullopt);
  EXPECT_EQ(form.windowTitle(), "Password");
}

TEST_F(PasswordFormTest, SettingAsksTwiceAndAMismatchKeepsTheDialogOpen) {
  EXPECT_TRUE(form.CheckPassword());  // no password: no question
  EXPECT_EQ(languageApplied, 0);
  WhenShown("PasswordForm", [this](QDialog& d) {
    Child<QLineEdit>(d, "NewPasswordEdit").setText("first");
    Child<QLineEdit>(d, "ConfirmPasswordEdit").setText("frist");
    Child<QPushButton>(d, "Ok").click();
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(desktop.Calls(), std::vector<std::string>{"box:Sentrel:Sorry, try another..."});
    EXPECT_EQ(Child<QLineEdit>(d, "NewPasswordEdit").text(), "first");  // kept for the next try
    Child<QLineEdit>(d, "ConfirmPasswordEdit").setText("first");
    Child<QPushButton>(d, "Ok").click();
  });
  EXPECT_TRUE(form.SetPassword());
  EXPECT_EQ(languageApplied, 1);
  Registry again(registry.Path());  // written through at once
  ASSERT_TRUE(again.Load());
  EXPECT_TRUE(PasswordStore(again).Matches("first"));
  EXPECT_EQ(Child<QLineEdit>(form, "ConfirmPasswordEdit").text(), "");
}

TEST_F(PasswordFormTest, OnlyTheRightTextWithOkGrantsAccessAndAWrongOneIsTold) {
  ASSERT_TRUE(store.Replace("Right"));
  AnswerInput("right");
  EXPECT_FALSE(form.CheckPassword());
  EXPECT_EQ(desktop.Calls(), std::vector<std::string>{"box:Sentrel:Wrong password"});
  AnswerInput("Right", "Cancel");
  EXPECT_FALSE(form.CheckPassword());
  AnswerInput("Right");
  EXPECT_TRUE(form.CheckPassword());
  // "Cancel" and the right text say nothing; the wording follows the language.
  EXPECT_EQ(desktop.Calls().size(), 1u);
  form.ApplyLanguage(IniFile::Parse("[PasswordForm]\r\nWrongPassword=Falsches Kennwort\r\n"));
  AnswerInput("wrong");
  EXPECT_FALSE(form.CheckPassword());
  EXPECT_EQ(desktop.Calls().back(), "box:Sentrel:Falsches Kennwort");
  EXPECT_EQ(Child<QLineEdit>(form, "InputPasswordEdit").text(), "");  // gone after each answer
}

TEST_F(PasswordFormTest, ChangingAsksForTheCurrentPasswordAndEmptyRemovesIt) {
  ASSERT_TRUE(store.Replace("old"));
  AnswerInput("wrong");
  EXPECT_FALSE(form.SetPassword());
  AnswerInput("old");
  AnswerSet("new", "new");
  EXPECT_TRUE(form.SetPassword());
  EXPECT_TRUE(store.Matches("new"));

  AnswerInput("new");
  AnswerSet("", "");
  EXPECT_TRUE(form.SetPassword());
  EXPECT_FALSE(store.IsSet());
}

TEST_F(PasswordFormTest, EnterConfirmsEscapeCancelsAndASecondRequestIsRefused) {
  ASSERT_TRUE(store.Replace("k"));
  WhenShown("PasswordForm", [this](QDialog& d) {
    EXPECT_FALSE(form.CheckPassword());  // while it is up
    QLineEdit& input = Child<QLineEdit>(d, "InputPasswordEdit");
    QTest::keyClicks(&input, "k");
    QTest::keyClick(&input, Qt::Key_Return);
  });
  EXPECT_TRUE(form.CheckPassword());
  WhenShown("PasswordForm", [](QDialog& d) {
    QLineEdit& input = Child<QLineEdit>(d, "InputPasswordEdit");
    QTest::keyClicks(&input, "k");
    QTest::keyClick(&input, Qt::Key_Escape);
  });
  EXPECT_FALSE(form.CheckPassword());
}

}  // namespace
}  // namespace sentrel
