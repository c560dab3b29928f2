#include "gui/dialogs/options_form.h"

#include <sys/stat.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

#include "fakes/fake_desktop.h"
#include "fakes/test_files.h"
#include "gui/dialogs/password_form.h"
#include "gui/language_captions.h"
#include "modal_answer.h"
#include "notify/dial_up.h"
#include "platform/registry.h"
#include "settings/ini_file.h"
#include "settings/options.h"
#include "settings/password.h"

namespace sentrel {
namespace {

using testing::Child;
using testing::WhenShown;

// Every field away from its default and unlike the others, so that a
// control wired to the wrong field shows.
ROptions Changed() {
  return {.MinToTray = true, .Language = "deutsch", .PathToData = "/srv/sentrel data",
          .MultPlayWAV = true, .PathToLog = "/var/log/sentrel", .LogDetail = 2, .LogSize = 7,
          .DeleteLog2Recycle = true, .ServerName = "mail.example.org", .Port = 587,
          .From = "monitor@example.org", .AutoRun = true, .DialUp = true, .AutoConnect = false,
          .Disconnect = true, .Connection = "Home:Dial", .Login = "dialer",
          .Password = "dial-secret", .SMTPUsername = "smtp-user",
          .SMTPPassword = "smtp-s\xE9" "cret",  // stored by the Windows program
          .SMTPSecurity = 3, .SMTPCAFile = "/etc/ssl/internal-ca.pem",
          .StatusBody = "All well", .SendVia = 1, .StatAddress = "ops@example.org",
          .SendEvery = 1, .DayOfMonth = 28, .DaysOfWeek = 2 | 64,  // Monday, Saturday
          .Times = (uint64_t{1} << 47) | 1 | (1 << 19),           // 23.30, 00.00, 09.30
          .StatusTargets = "ops,pager", .MetricsListen = "[::1]:9100",
          .UplinkHosts = "192.168.1.1, gw.example.org"};
}

class OptionsFormTest : public ::testing::Test {
 protected:
  // `withNmcli`: a phone book of "Office VPN" and "Home:Dial" (nmcli's
  // escaped colon); else no dial-up on this system.
  void Build(bool withNmcli = true) {
    std::string nmcli;
    if (withNmcli) {
      nmcli = dir.Path() + "/nmcli";
      testing::PutFile(nmcli, "#!/bin/sh\nprintf 'Office VPN\\nHome\\\\:Dial\\n'\n");
      ::chmod(nmcli.c_str(), 0755);
    }
    dialUp = std::make_unique<DialUp>(Nmcli(nmcli));
    form = std::make_unique<OptionsForm>(OptionsFormContext{
        options, registry, desktop, password, *dialUp, {"Deutsch", "English"},
        [this] { ++confirmed; }, [this](const std::string& line) { notices += line; }});
    form->SetFolderChooser([this](QWidget* owner, const QString& title, const QString& start) {
      chooserCalls.push_back({owner, title, start});
      return chooserAnswer;
    });
  }

  // Runs the options command; `act` works on the shown dialog and ends it.
  bool Edit(std::function<void(OptionsForm&)> act) {
    WhenShown("OptionsForm", [act](QDialog& d) { act(static_cast<OptionsForm&>(d)); });
    return form->EditOptions();
  }

  static void Click(QWidget& dialog, const char* button) { Child<QPushButton>(dialog, button).click(); }

  struct ChooserCall {
    QWidget* owner;
    QString title, start;
  };

  testing::TempDir dir;
  Registry registry{dir.Path() + "/registry.reg"};
  PasswordStore passwords{registry};
  testing::FakeDesktop desktop;
  PasswordForm password{passwords, desktop};
  ROptions options = Changed();
  std::unique_ptr<DialUp> dialUp;
  std::unique_ptr<OptionsForm> form;
  int confirmed = 0;
  std::string notices;
  std::vector<ChooserCall> chooserCalls;
  QString chooserAnswer;
};

TEST_F(OptionsFormTest, ControlsShowTheFieldsAndOkStoresThemBackUnchanged) {
  Build();
  const ROptions before = options;
  EXPECT_TRUE(Edit([](OptionsForm& d) {
    EXPECT_EQ(Child<QComboBox>(d, "LanguageList").currentText(), "Deutsch");
    EXPECT_FALSE(Child<QCheckBox>(d, "MultPlayWAV").isChecked());  // "only once" is the inverse
    EXPECT_EQ(Child<QComboBox>(d, "LogDetailList").currentText(), "Log all host events.");
    EXPECT_TRUE(Child<QRadioButton>(d, "DialUp").isChecked());
    EXPECT_EQ(Child<QLineEdit>(d, "SMTPPasswordEdit").echoMode(), QLineEdit::Password);
    EXPECT_EQ(Child<QLineEdit>(d, "PasswordEdit").echoMode(), QLineEdit::Normal);
    QComboBox& connection = Child<QComboBox>(d, "ConnectionList");
    EXPECT_EQ(connection.count(), 3);
    EXPECT_EQ(connection.currentText(), "Home:Dial");
    EXPECT_EQ(Child<QComboBox>(d, "SendEveryList").currentText(), "Week");
    EXPECT_TRUE(Child<QCheckBox>(d, "Monday").isChecked());
    EXPECT_FALSE(Child<QCheckBox>(d, "Sunday").isChecked());
    QListWidget& times = Child<QListWidget>(d, "Times");
    ASSERT_EQ(times.count(), 48);
    EXPECT_EQ(times.item(19)->text(), "09.30");
    for (int i = 0; i < 48; ++i)
      EXPECT_EQ(times.item(i)->checkState() == Qt::Checked, i == 0 || i == 19 || i == 47) << i;
    Click(d, "Ok");
  }));
  ROptions expected = before;
  expected.Language = "Deutsch";  // the entry's own spelling
  EXPECT_EQ(options, expected);
  Registry stored(registry.Path());
  ASSERT_TRUE(stored.Load());
  LoadOptions(options, stored);
  EXPECT_EQ(options, expected);
  EXPECT_EQ(confirmed, 1);
  EXPECT_EQ(notices, "");
}

TEST_F(OptionsFormTest, OkNormalisesWhatWasTyped) {
  Build();
  options.Language = "Klingon";
  options.Connection = "Gone from the phone book";
  EXPECT_TRUE(Edit([](OptionsForm& d) {
    EXPECT_EQ(Child<QComboBox>(d, "ConnectionList").currentText(), "None");
    Child<QLineEdit>(d, "ServerNameEdit").setText(" smtp .exam\tple.org \n");
    Child<QLineEdit>(d, "PathToDataEdit").setText("\t /srv/my data \r\n");
    Child<QLineEdit>(d, "PathToLogEdit").setText(" /var/log ");
    Child<QLineEdit>(d, "PortEdit").setText("");
    Child<QLineEdit>(d, "LogSizeEdit").setText("12abc");
    Child<QComboBox>(d, "LogDetailList").setEditText("something else");
    Child<QLineEdit>(d, "MetricsListenEdit").setText(" 0.0.0.0:9639 ");
    Click(d, "Ok");
  }));
  EXPECT_EQ(options.MetricsListen, "0.0.0.0:9639");
  EXPECT_EQ(options.Language, "");
  EXPECT_EQ(options.Connection, "None");
  EXPECT_EQ(options.ServerName, "smtp.example.org");
  EXPECT_EQ(options.PathToData, "/srv/my data");
  EXPECT_EQ(options.PathToLog, " /var/log ");
  EXPECT_EQ(options.Port, 0);
  EXPECT_EQ(options.LogSize, 12);
  EXPECT_EQ(options.LogDetail, 2);  // free text keeps the level chosen last
}

// The port follows the encryption while it is one of the usual ones; the
// test mail goes with the fields as they stand, stored or not, and its
// report says why it failed.
TEST_F(OptionsFormTest, PortFollowsTheEncryptionAndTheMailTestUsesTheFieldsAsTheyStand) {
  Build();
  options.SMTPSecurity = 0;
  options.Port = 25;
  std::vector<std::string> tests;
  form->SetMailTest([&tests](const ROptions& trial, const std::string& to) {
    tests.push_back(to + " " + std::to_string(trial.SMTPSecurity) + " " + std::to_string(trial.Port) +
                    " " + trial.SMTPCAFile);
    MailResult refused;
    refused.failure = MailFailure::kCertificate;
    refused.reason = "TLS refused mail.example.org: certificate for another name";
    return refused;
  });
  EXPECT_FALSE(Edit([](OptionsForm& d) {
    QComboBox& security = Child<QComboBox>(d, "SMTPSecurityList");
    QLineEdit& port = Child<QLineEdit>(d, "PortEdit");
    EXPECT_FALSE(Child<QLineEdit>(d, "SMTPCAFileEdit").isEnabled());
    security.setCurrentIndex(3);
    EXPECT_EQ(port.text(), "465");
    EXPECT_TRUE(Child<QLineEdit>(d, "SMTPCAFileEdit").isEnabled());
    security.setCurrentIndex(2);
    EXPECT_EQ(port.text(), "587");
    port.setText("2525");
    security.setCurrentIndex(3);
    EXPECT_EQ(port.text(), "2525");
    Child<QLineEdit>(d, "SMTPCAFileEdit").setText(" /etc/ca.pem ");
    WhenShown("MailTestToDialog", [](QDialog& ask) {
      static_cast<QInputDialog&>(ask).setTextValue("ops@example.org");
      ask.accept();
    });
    Click(d, "MailTest");
    Click(d, "Cancel");
  }));
  EXPECT_EQ(tests, std::vector<std::string>{"ops@example.org 3 2525 /etc/ca.pem"});
  EXPECT_EQ(options.SMTPSecurity, 0);
  EXPECT_EQ(desktop.Calls(),
            std::vector<std::string>{
                "box:Sentrel:The test message was not sent: TLS refused mail.example.org: "
                "certificate for another name\nThis stays so until the settings or the server change."});
}

TEST_F(OptionsFormTest, UnreadableMetricsAddressKeepsTheDialogOpenWithTheReason) {
  Build();
  EXPECT_TRUE(Edit([this](OptionsForm& d) {
    QLineEdit& field = Child<QLineEdit>(d, "MetricsListenEdit");
    field.setText("::1:9100");
    Click(d, "Ok");
    EXPECT_TRUE(d.isVisible());
    ASSERT_EQ(desktop.Calls().size(), 1u);
    EXPECT_NE(desktop.Calls()[0].find("an IPv6 address goes in brackets"), std::string::npos);
    field.setText("");
    Click(d, "Ok");
  }));
  EXPECT_EQ(options.MetricsListen, "");
}

TEST_F(OptionsFormTest, CancelCloseOrEscapeLeaveEverythingAndEnterInAFieldDoesNothing) {
  Build();
  const ROptions before = options;
  for (const std::string end : {"Cancel", "close", "Escape"}) {
    EXPECT_FALSE(Edit([end](OptionsForm& d) {
      QLineEdit& server = Child<QLineEdit>(d, "ServerNameEdit");
      server.setText("changed");
      Child<QCheckBox>(d, "MinToTray").setChecked(false);
      server.setFocus();
      QTest::keyClick(&server, Qt::Key_Return);
      EXPECT_TRUE(d.isVisible());
      if (end == "Cancel") Click(d, "Cancel");
      if (end == "close") d.close();
      if (end == "Escape") QTest::keyClick(&server, Qt::Key_Escape);
    })) << end;
  }
  EXPECT_EQ(options, before);
  EXPECT_EQ(confirmed, 0);
  EXPECT_FALSE(registry.GetString(kOptionsKey, "ServerName"));
}

TEST_F(OptionsFormTest, WithoutNmcliDialUpCannotBeChosenAndLanIsStored) {
  Build(false);
  EXPECT_TRUE(Edit([](OptionsForm& d) {
    EXPECT_FALSE(Child<QRadioButton>(d, "DialUp").isEnabled());
    EXPECT_EQ(Child<QComboBox>(d, "ConnectionList").count(), 1);
    EXPECT_FALSE(Child<QComboBox>(d, "ConnectionList").isEnabled());
    Click(d, "Ok");
  }));
  EXPECT_FALSE(options.DialUp);
  EXPECT_EQ(options.Connection, "None");
}

TEST_F(OptionsFormTest, EnablingFollowsConnectViaAndSendEvery) {
  Build();
  options.SendEvery = 3;  // Never
  EXPECT_TRUE(Edit([](OptionsForm& d) {
    const auto enabled = [&d](const char* name) { return Child<QWidget>(d, name).isEnabled(); };
    EXPECT_FALSE(enabled("DayOfMonthEdit") || enabled("Monday") || enabled("Times"));
    QComboBox& every = Child<QComboBox>(d, "SendEveryList");
    every.setCurrentIndex(0);  // Month
    EXPECT_TRUE(enabled("DayOfMonthEdit") && !enabled("Saturday") && enabled("Times"));
    every.setCurrentIndex(1);  // Week
    EXPECT_TRUE(!enabled("DayOfMonthEdit") && enabled("Saturday"));
    every.setCurrentIndex(3);

    Child<QRadioButton>(d, "ViaLan").setChecked(true);
    for (const char* name : {"Disconnect", "ConnectionList", "Login", "LoginEdit", "PasswordEdit"})
      EXPECT_FALSE(enabled(name)) << name;
    EXPECT_TRUE(enabled("SMTPPasswordEdit"));
    Child<QRadioButton>(d, "DialUp").setChecked(true);
    EXPECT_TRUE(enabled("LoginEdit") && !enabled("AutoConnect"));
    Click(d, "Ok");
  }));
  // Disabled controls still hand their values back.
  EXPECT_EQ(options.DaysOfWeek, 2 | 64);
  EXPECT_EQ(options.Times, (uint64_t{1} << 47) | 1 | (1 << 19));
}

TEST_F(OptionsFormTest, DayFieldKeepsWithinOneToThirtyOneOnLeavingOrOk) {
  Build();
  EXPECT_TRUE(Edit([this](OptionsForm& d) {
    Child<QComboBox>(d, "SendEveryList").setCurrentIndex(0);  // "Month" enables the day
    QLineEdit& day = Child<QLineEdit>(d, "DayOfMonthEdit");
    const auto leave = [&day] {
      QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
      QApplication::sendEvent(&day, &out);
    };
    day.selectAll();
    QTest::keyClicks(&day, "4x5");  // 45; letters are not taken
    EXPECT_EQ(day.text(), "45");
    leave();
    EXPECT_EQ(day.text(), "31");
    day.selectAll();
    QTest::keyClick(&day, Qt::Key_Backspace);  // empty, no "1" while typing
    QTest::keyClicks(&day, "7");
    leave();
    EXPECT_EQ(day.text(), "7");
    EXPECT_EQ(desktop.Calls(), (std::vector<std::string>{"beep"}));
    day.selectAll();
    QTest::keyClick(&day, Qt::Key_Backspace);  // empty counts as 0
    Click(d, "Ok");
  }));
  EXPECT_EQ(options.DayOfMonth, 1);
  EXPECT_EQ(desktop.Calls(), (std::vector<std::string>{"beep", "beep"}));
}

TEST_F(OptionsFormTest, FolderChoosersOpenAtTheTrimmedFieldAlsoOnShiftAlone) {
  Build();
  QLineEdit& data = Child<QLineEdit>(*form, "PathToDataEdit");
  data.setText("  /srv/data\t");
  chooserAnswer = "/srv/chosen";
  Click(*form, "PathToDataBtn");
  ASSERT_EQ(chooserCalls.size(), 1u);
  EXPECT_EQ(chooserCalls[0].owner, form.get());
  EXPECT_EQ(chooserCalls[0].title, QString::fromUtf8("Выберите каталог"));
  EXPECT_EQ(chooserCalls[0].start, "/srv/data");
  EXPECT_EQ(data.text(), "/srv/chosen");

  // Shift with another key types a capital; with Ctrl it opens nothing;
  // alone it opens the chooser, and a cancelled chooser leaves the field.
  QLineEdit& log = Child<QLineEdit>(*form, "PathToLogEdit");
  QTest::keyClick(&log, 'L', Qt::ShiftModifier);
  QTest::keyPress(&log, Qt::Key_Shift, Qt::ControlModifier);
  QTest::keyRelease(&log, Qt::Key_Shift, Qt::ControlModifier);
  EXPECT_EQ(chooserCalls.size(), 1u);
  chooserAnswer.clear();
  QTest::keyPress(&log, Qt::Key_Shift);
  QTest::keyRelease(&log, Qt::Key_Shift);
  ASSERT_EQ(chooserCalls.size(), 2u);
  EXPECT_EQ(log.text(), "L");
  QTest::keyPress(&Child<QLineEdit>(*form, "FromEdit"), Qt::Key_Shift);
  QTest::keyRelease(&Child<QLineEdit>(*form, "FromEdit"), Qt::Key_Shift);
  EXPECT_EQ(chooserCalls.size(), 2u);
}

TEST_F(OptionsFormTest, LanguageIsPickedWithTheMouseOnly) {
  Build();
  QComboBox& language = Child<QComboBox>(*form, "LanguageList");
  language.setCurrentIndex(0);
  for (Qt::Key key : {Qt::Key_Down, Qt::Key_End, Qt::Key_E}) QTest::keyClick(&language, key);
  EXPECT_EQ(language.currentIndex(), 0);
}

TEST_F(OptionsFormTest, HelpShowsThePageTopicAndTheDialogReopensOnItsLastPage) {
  Build();
  EXPECT_FALSE(Edit([](OptionsForm& d) {
    QTabWidget& pages = Child<QTabWidget>(d, "Pages");
    EXPECT_EQ(pages.currentIndex(), 0);
    for (int page : {0, 1, 2, 3, 2}) {
      pages.setCurrentIndex(page);
      Click(d, "Help");
    }
    Click(d, "Cancel");
  }));
  EXPECT_EQ(desktop.Calls(), (std::vector<std::string>{"help:15:30", "help:15:40", "help:15:50",
                                                       "help:15:60", "help:15:50"}));
  EXPECT_FALSE(Edit([](OptionsForm& d) {
    EXPECT_EQ(Child<QTabWidget>(d, "Pages").currentIndex(), 2);
    Click(d, "Cancel");
  }));
}

TEST_F(OptionsFormTest, PasswordComesFirstAndARefusalOpensNothing) {
  Build();
  ASSERT_TRUE(passwords.Replace("letmein"));
  const auto answer = [this](const char* typed) {
    WhenShown("PasswordForm", [this, typed](QDialog& d) {
      Child<QLineEdit>(d, "InputPasswordEdit").setText(typed);
      Click(d, "Ok");
      if (typed == std::string("letmein")) return;
      // Runs in the options dialog's own loop if it opens after a refusal.
      QTimer::singleShot(0, [f = QPointer<OptionsForm>(form.get())] {
        if (f && f->isVisible()) {
          ADD_FAILURE() << "the options opened";
          f->done(0);
        }
      });
    });
  };
  answer("wrong");
  EXPECT_FALSE(form->EditOptions());
  QCoreApplication::processEvents();
  answer("letmein");
  EXPECT_TRUE(Edit([](OptionsForm& d) { Click(d, "Ok"); }));
  EXPECT_EQ(desktop.Calls(), std::vector<std::string>{"box:Sentrel:Wrong password"});
}

TEST_F(OptionsFormTest, EveryControlHasANameAndAnAccessibleName) {
  Build();
  form->show();
  for (QWidget* w : form->findChildren<QWidget*>()) {
    const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                         qobject_cast<QComboBox*>(w) || qobject_cast<QListWidget*>(w) ||
                         qobject_cast<QGroupBox*>(w) || qobject_cast<QLabel*>(w);
    // A combo box's editor and the tab bar's scroll buttons belong to their owners.
    if (!control || qobject_cast<QComboBox*>(w->parentWidget()) || w->inherits("QToolButton"))
      continue;
    EXPECT_FALSE(w->objectName().isEmpty()) << w->metaObject()->className();
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << w->objectName().toStdString();
  }
  form->hide();
}

}  // namespace
}  // namespace sentrel

namespace sentrel {
namespace {

TEST_F(OptionsFormTest, LanguageFileSetsEveryNamedCaptionAndRefillsTheLists) {
  Build();
  const auto file = IniFile::Parse(
      "[OptionsForm]\r\nCaption=Optionen\r\nPassword=Kennwort:\r\nLogSettings=Protokoll\r\nMonth=Monat\r\n"
      "LogLevel1=\r\n[Buttons]\r\nOk=Jawohl\r\n");
  ApplyCaptionsByName(*form, LanguageWindow::kOptionsForm, file);
  // Both "Password:" labels carry the key.
  const auto labels = form->findChildren<QLabel*>("Password");
  ASSERT_EQ(labels.size(), 2);
  for (const QLabel* label : labels) EXPECT_EQ(label->text(), "Kennwort:");
  const QTabWidget& tabs = *form->findChild<QTabWidget*>();
  EXPECT_EQ(tabs.tabText(1), "Protokoll");
  EXPECT_EQ(Child<QComboBox>(*form, "SendEveryList").itemText(0), "Monat");
  EXPECT_EQ(Child<QComboBox>(*form, "SendEveryList").itemText(1), "Week");  // built-in
  EXPECT_EQ(Child<QComboBox>(*form, "LogDetailList").itemText(0), "");      // empty value
  EXPECT_EQ(Child<QPushButton>(*form, "Ok").text(), "Jawohl");
  EXPECT_EQ(Child<QPushButton>(*form, "Cancel").text(), "Cancel");
  EXPECT_EQ(form->windowTitle(), "Optionen");

  ApplyCaptionsByName(*form, LanguageWindow::kOptionsForm, std::nullopt);
  EXPECT_EQ(Child<QPushButton>(*form, "Ok").text(), "Ok");
}

}  // namespace
}  // namespace sentrel
