#include "gui/dialogs/options_form.h"

#include <sys/stat.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

#include "fakes/fake_desktop.h"
#include "fakes/test_files.h"
#include "gui/dialogs/password_form.h"
#include "modal_answer.h"
#include "notify/dial_up.h"
#include "platform/registry.h"
#include "settings/options.h"
#include "settings/password.h"

namespace sentrel {
namespace {

using testing::Child;
using testing::WhenShown;

// Every field away from its default, and each one different from the
// others, so that a control wired to the wrong field shows.
ROptions Changed() {
  ROptions o;
  o.MinToTray = true;
  o.Language = "deutsch";
  o.PathToData = "/srv/sentrel data";
  o.MultPlayWAV = true;
  o.PathToLog = "/var/log/sentrel";
  o.LogDetail = 2;
  o.LogSize = 7;
  o.DeleteLog2Recycle = true;
  o.ServerName = "mail.example.org";
  o.Port = 587;
  o.From = "monitor@example.org";
  o.AutoRun = true;
  o.DialUp = true;
  o.AutoConnect = false;
  o.Disconnect = true;
  o.Connection = "Home:Dial";
  o.Login = "dialer";
  o.Password = "dial-secret";
  o.SMTPUsername = "smtp-user";
  o.SMTPPassword = "smtp-secret";
  o.StatusBody = "All well";
  o.SendVia = 1;
  o.StatAddress = "ops@example.org";
  o.SendEvery = 1;
  o.DayOfMonth = 28;
  o.DaysOfWeek = 2 | 64;                       // Monday, Saturday
  o.Times = (uint64_t{1} << 47) | 1 | (1 << 19);  // 23.30, 00.00, 09.30
  return o;
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

  ROptions Stored() {
    Registry again(registry.Path());
    again.Load();
    ROptions o;
    LoadOptions(o, again);
    return o;
  }

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
    EXPECT_EQ(Child<QLineEdit>(d, "PathToDataEdit").text(), "/srv/sentrel data");
    EXPECT_TRUE(Child<QCheckBox>(d, "MinToTray").isChecked());
    EXPECT_FALSE(Child<QCheckBox>(d, "MultPlayWAV").isChecked());  // "only once" is the inverse
    EXPECT_EQ(Child<QComboBox>(d, "LogDetailList").currentText(), "Log all host events.");
    EXPECT_EQ(Child<QLineEdit>(d, "LogSizeEdit").text(), "7");
    EXPECT_EQ(Child<QLineEdit>(d, "PortEdit").text(), "587");
    EXPECT_TRUE(Child<QRadioButton>(d, "DialUp").isChecked());
    EXPECT_FALSE(Child<QCheckBox>(d, "AutoConnect").isEnabled());
    EXPECT_EQ(Child<QLineEdit>(d, "SMTPPasswordEdit").echoMode(), QLineEdit::Password);
    EXPECT_EQ(Child<QLineEdit>(d, "PasswordEdit").echoMode(), QLineEdit::Normal);
    QComboBox& connection = Child<QComboBox>(d, "ConnectionList");
    EXPECT_EQ(connection.count(), 3);
    EXPECT_EQ(connection.itemText(0), "None");
    EXPECT_EQ(connection.currentText(), "Home:Dial");
    EXPECT_EQ(Child<QComboBox>(d, "SendViaList").currentText(), "eMail");
    EXPECT_EQ(Child<QComboBox>(d, "SendEveryList").currentText(), "Week");
    EXPECT_EQ(Child<QLineEdit>(d, "DayOfMonthEdit").text(), "28");
    EXPECT_TRUE(Child<QCheckBox>(d, "Monday").isChecked());
    EXPECT_FALSE(Child<QCheckBox>(d, "Sunday").isChecked());
    EXPECT_TRUE(Child<QCheckBox>(d, "Saturday").isChecked());
    QListWidget& times = Child<QListWidget>(d, "Times");
    ASSERT_EQ(times.count(), 48);
    EXPECT_EQ(times.item(47)->text(), "23.30");
    EXPECT_EQ(times.item(19)->text(), "09.30");
    for (int i = 0; i < 48; ++i)
      EXPECT_EQ(times.item(i)->checkState() == Qt::Checked, i == 0 || i == 19 || i == 47) << i;
    Click(d, "Ok");
  }));
  ROptions expected = before;
  expected.Language = "Deutsch";  // the entry's own spelling
  EXPECT_EQ(options, expected);
  EXPECT_EQ(Stored(), expected);
  EXPECT_EQ(confirmed, 1);
  EXPECT_EQ(notices, "");
}

TEST_F(OptionsFormTest, OkNormalisesWhatWasTyped) {
  Build();
  options.Language = "Klingon";
  options.Connection = "Gone from the phone book";
  EXPECT_TRUE(Edit([](OptionsForm& d) {
    EXPECT_EQ(Child<QComboBox>(d, "LanguageList").currentIndex(), -1);
    EXPECT_EQ(Child<QComboBox>(d, "ConnectionList").currentText(), "None");
    Child<QLineEdit>(d, "ServerNameEdit").setText(" smtp .exam\tple.org \n");
    Child<QLineEdit>(d, "PathToDataEdit").setText("\t /srv/my data \r\n");
    Child<QLineEdit>(d, "PathToLogEdit").setText(" /var/log ");
    Child<QLineEdit>(d, "PortEdit").setText("");
    Child<QLineEdit>(d, "LogSizeEdit").setText("12abc");
    Child<QComboBox>(d, "LogDetailList").setEditText("something else");
    Child<QCheckBox>(d, "MultPlayWAV").setChecked(true);
    Child<QCheckBox>(d, "Sunday").setChecked(true);
    Child<QListWidget>(d, "Times").item(0)->setCheckState(Qt::Unchecked);
    Click(d, "Ok");
  }));
  EXPECT_EQ(options.Language, "");
  EXPECT_EQ(options.Connection, "None");
  EXPECT_EQ(options.ServerName, "smtp.example.org");
  EXPECT_EQ(options.PathToData, "/srv/my data");
  EXPECT_EQ(options.PathToLog, " /var/log ");
  EXPECT_EQ(options.Port, 0);
  EXPECT_EQ(options.LogSize, 12);
  EXPECT_EQ(options.LogDetail, 2);  // free text keeps the level chosen last
  EXPECT_FALSE(options.MultPlayWAV);
  EXPECT_EQ(options.DaysOfWeek, 1 | 2 | 64);
  EXPECT_EQ(options.Times, (uint64_t{1} << 47) | (1 << 19));
}

TEST_F(OptionsFormTest, CancelOrClosingLeavesEverythingAsItWas) {
  Build();
  const ROptions before = options;
  for (const char* end : {"Cancel", "close", "Escape"}) {
    EXPECT_FALSE(Edit([end](OptionsForm& d) {
      Child<QLineEdit>(d, "ServerNameEdit").setText("changed");
      Child<QCheckBox>(d, "MinToTray").setChecked(false);
      Child<QComboBox>(d, "LanguageList").setCurrentIndex(1);
      Child<QListWidget>(d, "Times").item(5)->setCheckState(Qt::Checked);
      if (std::string(end) == "Cancel") {
        Click(d, "Cancel");
      } else if (std::string(end) == "close") {
        d.close();
      } else {
        QTest::keyClick(&Child<QLineEdit>(d, "PortEdit"), Qt::Key_Escape);
      }
    })) << end;
  }
  EXPECT_EQ(options, before);
  EXPECT_EQ(confirmed, 0);
  EXPECT_FALSE(registry.GetString(kOptionsKey, "ServerName"));
}

TEST_F(OptionsFormTest, EnterConfirmsOnlyFromTheOkButton) {
  Build();
  EXPECT_TRUE(Edit([](OptionsForm& d) {
    QLineEdit& from = Child<QLineEdit>(d, "FromEdit");
    from.setFocus();
    QTest::keyClick(&from, Qt::Key_Return);
    EXPECT_TRUE(d.isVisible());
    QPushButton& ok = Child<QPushButton>(d, "Ok");
    ok.setFocus();
    QTest::keyClick(&ok, Qt::Key_Return);
  }));
}

TEST_F(OptionsFormTest, WithoutNmcliDialUpCannotBeChosenAndLanIsStored) {
  Build(false);
  EXPECT_TRUE(Edit([](OptionsForm& d) {
    EXPECT_FALSE(Child<QRadioButton>(d, "DialUp").isEnabled());
    EXPECT_TRUE(Child<QRadioButton>(d, "ViaLan").isChecked());
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
    EXPECT_FALSE(enabled("DayOfMonthEdit"));
    EXPECT_FALSE(enabled("Monday"));
    EXPECT_FALSE(enabled("Times"));
    EXPECT_FALSE(enabled("TimeLabel"));

    QComboBox& every = Child<QComboBox>(d, "SendEveryList");
    every.setCurrentIndex(0);  // Month
    EXPECT_TRUE(enabled("DayOfMonthEdit"));
    EXPECT_TRUE(enabled("DayOfMonthLabel"));
    EXPECT_FALSE(enabled("Saturday"));
    EXPECT_TRUE(enabled("Times"));
    every.setCurrentIndex(1);  // Week
    EXPECT_FALSE(enabled("DayOfMonthEdit"));
    EXPECT_TRUE(enabled("Saturday"));
    every.setCurrentIndex(2);  // Day
    EXPECT_FALSE(enabled("Saturday"));
    EXPECT_TRUE(enabled("Times"));
    every.setCurrentIndex(3);

    for (const char* name : {"Disconnect", "ConnectionList", "LoginEdit", "PasswordEdit"})
      EXPECT_TRUE(enabled(name)) << name;
    Child<QRadioButton>(d, "ViaLan").setChecked(true);
    for (const char* name : {"Disconnect", "ConnectionList", "LoginEdit", "PasswordEdit", "Login"})
      EXPECT_FALSE(enabled(name)) << name;
    EXPECT_TRUE(enabled("SMTPPasswordEdit"));
    Child<QRadioButton>(d, "DialUp").setChecked(true);
    EXPECT_TRUE(enabled("LoginEdit"));
    EXPECT_FALSE(enabled("AutoConnect"));
    Click(d, "Ok");
  }));
  // Disabled controls still hand their values back.
  EXPECT_EQ(options.SendEvery, 3);
  EXPECT_EQ(options.DaysOfWeek, 2 | 64);
  EXPECT_EQ(options.DayOfMonth, 28);
  EXPECT_EQ(options.Times, (uint64_t{1} << 47) | 1 | (1 << 19));
}

TEST_F(OptionsFormTest, DayFieldKeepsWithinOneToThirtyOneWithABeep) {
  Build();
  QLineEdit& day = Child<QLineEdit>(*form, "DayOfMonthEdit");
  day.setText("5");
  EXPECT_TRUE(desktop.Calls().empty());
  day.selectAll();
  QTest::keyClicks(&day, "4");
  QTest::keyClicks(&day, "5");  // 45
  EXPECT_EQ(day.text(), "31");
  QTest::keyClick(&day, Qt::Key_Backspace);  // "3" is fine
  EXPECT_EQ(day.text(), "3");
  QTest::keyClick(&day, Qt::Key_Backspace);  // empty counts as 0
  EXPECT_EQ(day.text(), "1");
  QTest::keyClicks(&day, "x");  // digits only
  EXPECT_EQ(day.text(), "1");
  EXPECT_EQ(desktop.Calls(), (std::vector<std::string>{"beep", "beep"}));
}

TEST_F(OptionsFormTest, FolderChoosersOpenAtTheTrimmedFieldAndShiftAloneOpensThemToo) {
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

  chooserAnswer.clear();  // cancelled: the field stays
  Click(*form, "PathToLogBtn");
  EXPECT_EQ(Child<QLineEdit>(*form, "PathToLogEdit").text(), "");
  ASSERT_EQ(chooserCalls.size(), 2u);

  // Shift with another key types a capital and opens nothing; Shift alone,
  // or with Ctrl or Alt, decides on its release.
  QLineEdit& log = Child<QLineEdit>(*form, "PathToLogEdit");
  log.setText("/var/");
  QTest::keyClick(&log, 'L', Qt::ShiftModifier);
  EXPECT_EQ(log.text(), "/var/L");
  EXPECT_EQ(chooserCalls.size(), 2u);
  QTest::keyPress(&log, Qt::Key_Shift, Qt::ControlModifier);
  QTest::keyRelease(&log, Qt::Key_Shift, Qt::ControlModifier);
  EXPECT_EQ(chooserCalls.size(), 2u);

  chooserAnswer = "/var/log/sentrel";
  QTest::keyPress(&log, Qt::Key_Shift);
  QTest::keyRelease(&log, Qt::Key_Shift);
  ASSERT_EQ(chooserCalls.size(), 3u);
  EXPECT_EQ(chooserCalls[2].start, "/var/L");
  EXPECT_EQ(log.text(), "/var/log/sentrel");

  // Not from other fields.
  QLineEdit& from = Child<QLineEdit>(*form, "FromEdit");
  QTest::keyPress(&from, Qt::Key_Shift);
  QTest::keyRelease(&from, Qt::Key_Shift);
  EXPECT_EQ(chooserCalls.size(), 3u);
}

TEST_F(OptionsFormTest, LanguageIsPickedWithTheMouseOnly) {
  Build();
  QComboBox& language = Child<QComboBox>(*form, "LanguageList");
  EXPECT_EQ(language.count(), 2);
  language.setCurrentIndex(0);
  for (Qt::Key key : {Qt::Key_Down, Qt::Key_End, Qt::Key_E, Qt::Key_PageDown})
    QTest::keyClick(&language, key);
  EXPECT_EQ(language.currentIndex(), 0);
  EXPECT_FALSE(language.isEditable());
}

TEST_F(OptionsFormTest, HelpShowsThePageTopicAndTheDialogReopensOnItsLastPage) {
  Build();
  EXPECT_FALSE(Edit([](OptionsForm& d) {
    QTabWidget& pages = Child<QTabWidget>(d, "Pages");
    EXPECT_EQ(pages.currentIndex(), 0);
    for (int page = 0; page < 4; ++page) {
      pages.setCurrentIndex(page);
      Click(d, "Help");
    }
    pages.setCurrentIndex(2);
    Click(d, "Cancel");
  }));
  EXPECT_EQ(desktop.Calls(),
            (std::vector<std::string>{"help:15:30", "help:15:40", "help:15:50", "help:15:60"}));
  EXPECT_FALSE(Edit([](OptionsForm& d) {
    EXPECT_EQ(Child<QTabWidget>(d, "Pages").currentIndex(), 2);
    Click(d, "Cancel");
  }));
}

TEST_F(OptionsFormTest, PasswordComesFirstAndARefusalShowsNothing) {
  Build();
  ASSERT_TRUE(passwords.Replace("letmein"));
  bool optionsShown = false;
  for (const char* typed : {"wrong", ""}) {
    WhenShown("PasswordForm", [typed](QDialog& d) {
      Child<QLineEdit>(d, "InputPasswordEdit").setText(typed);
      Click(d, "Ok");
    });
    EXPECT_FALSE(form->EditOptions()) << typed;
  }
  WhenShown("PasswordForm", [](QDialog& d) {
    Child<QLineEdit>(d, "InputPasswordEdit").setText("letmein");
    Click(d, "Cancel");
  });
  EXPECT_FALSE(form->EditOptions());
  EXPECT_FALSE(optionsShown);

  WhenShown("PasswordForm", [](QDialog& d) {
    Child<QLineEdit>(d, "InputPasswordEdit").setText("letmein");
    Click(d, "Ok");
  });
  EXPECT_TRUE(Edit([&optionsShown](OptionsForm& d) {
    optionsShown = true;
    Click(d, "Ok");
  }));
  EXPECT_TRUE(optionsShown);
  EXPECT_TRUE(desktop.Calls().empty());  // no message for the wrong ones
}

TEST_F(OptionsFormTest, EveryControlHasANameAndAnAccessibleName) {
  Build();
  form->show();
  for (QWidget* w : form->findChildren<QWidget*>()) {
    const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                         qobject_cast<QComboBox*>(w) || qobject_cast<QListWidget*>(w) ||
                         qobject_cast<QGroupBox*>(w) || qobject_cast<QLabel*>(w);
    if (!control || w->parentWidget() == nullptr || qobject_cast<QComboBox*>(w->parentWidget()))
      continue;  // a combo box's own editor and buttons belong to the combo box
    if (w->inherits("QTabBar") || w->inherits("QToolButton")) continue;
    EXPECT_FALSE(w->objectName().isEmpty()) << w->metaObject()->className();
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(a->text(QAccessible::Name).isEmpty()) << w->objectName().toStdString();
  }
  form->hide();
}

}  // namespace
}  // namespace sentrel
