#include "gui/dialogs/host_form.h"

#include <gtest/gtest.h>

#include <functional>

#include <QApplication>
#include <QGroupBox>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "core/data_file.h"
#include "core/host_entry.h"
#include "fakes/fake_desktop.h"
#include "fakes/recording_channels.h"
#include "fakes/text_samples.h"
#include "probes/address.h"
#include "settings/ini_file.h"
#include "settings/options.h"
#include "unit/core/core_test_util.h"

namespace sentrel {
namespace {

class HostFormTest : public ::testing::Test {
 protected:
  HostFormTest() {
    services.programFolder = "/opt/sentrel";
    services.lookups.parse = ParseAddress;
    services.lookups.resolve = [](const std::string& name, AddressFamily) {
      return name == "gate.lan" ? *ParseAddress("10.0.0.1") : NoAddress();
    };
    services.lookups.nameOf = [](const IpAddress& a) {
      return a == *ParseAddress("10.0.0.1") ? std::string("gate.lan") : AddressText(a);
    };
    services.lookups.localName = [] { return std::string("gate.lan"); };
    services.chooseFile = [this](QWidget*, const FileChooserRequest& request) {
      chooser.push_back(request);
      return chosen;
    };
    form = std::make_unique<HostForm>(options, desktop, channels, services);
  }

  // Runs EditHost on `host` while `script` drives the open dialog; the
  // script ends it with "Ok" or "Cancel". A dialog left open is closed after
  // a few seconds, so a broken script fails instead of hanging.
  bool Edit(HostEntry& host, const std::function<void()>& script) {
    QTimer::singleShot(0, [&] { script(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [this] { form->reject(); });
    guard.start(5000);
    return form->EditHost(host);
  }

  template <typename T>
  T* Find(const char* name, const char* page = nullptr) const {
    QObject* scope = page ? form->findChild<QWidget*>(page) : form.get();
    T* widget = scope->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  QPushButton* Button(const char* accessibleName) const {
    for (QPushButton* b : form->findChildren<QPushButton*>()) {
      if (b->accessibleName() == accessibleName) return b;
    }
    ADD_FAILURE() << accessibleName;
    return nullptr;
  }
  void Type(const char* field, const char* text) {
    QLineEdit* edit = Find<QLineEdit>(field);
    edit->selectAll();
    QTest::keyClicks(edit, text);
  }
  void Click(const char* name) { Find<QPushButton>(name)->click(); }
  // The focus moves on from `field`, as Tab or a click elsewhere does.
  void Leave(const char* field) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(Find<QLineEdit>(field), &out);
  }

  ROptions options;
  testing::FakeDesktop desktop;
  testing::RecordingChannels channels;
  HostFormServices services;
  std::vector<FileChooserRequest> chooser;
  QString chosen;
  std::unique_ptr<HostForm> form;
};

TEST_F(HostFormTest, FillsQuietlyAndOkWithoutChangesKeepsEveryByte) {
  HostEntry fresh;  // day 0 and threshold 5000 with time-out 5000
  HostEntry host;
  testing::SetEveryField(host);
  host.LightTimes[3] = 40;  // rising, so that "Ok" passes
  const auto before = testing::BlockLines(host);
  HostFormValues shown;
  EXPECT_TRUE(Edit(host, [&] {
    shown = form->Values();
    Click("Ok");
  }));
  EXPECT_EQ(testing::BlockLines(host), before);
  EXPECT_EQ(shown.daysOfWeek, 0x22);
  EXPECT_EQ(Find<QListWidget>("TimesList")->item(47)->checkState(), Qt::Checked);
  EXPECT_EQ(Find<QComboBox>("PingByCombo")->currentIndex(), 1);

  EXPECT_FALSE(Edit(fresh, [&] {
    EXPECT_EQ(Find<QLineEdit>("DayOfMonthEdit")->text(), "0");
    EXPECT_EQ(Find<QLineEdit>("RenewalSubjectEdit")->text(), "Sentrel Message!!!");
    EXPECT_EQ(Find<QPlainTextEdit>("LossMesBodyEdit")->toPlainText(), "%StatusStr%");
    Click("Cancel");
  }));
  EXPECT_EQ(desktop.Calls(), std::vector<std::string>{});
}

class HostFormTextTest : public HostFormTest,
                         public ::testing::WithParamInterface<testing::TextSample> {};

// A host read from the data file shows its texts decoded; "Ok" without a
// change gives the file its bytes back, an edited text goes in as UTF-8.
TEST_P(HostFormTextTest, ShowsDecodedTextsAndKeepsTheBytesOfUntouchedOnes) {
  const std::string bytes(GetParam().bytes);
  const QString text = QString::fromUtf8(GetParam().text.data(), GetParam().text.size());
  HostEntry host;
  ParseHostBlock("<HN>" + bytes + "</HN><HDS>" + bytes + "</HDS><DMB>" + bytes + "\r\n" +
                     bytes + "</DMB>",
                 host);
  const std::string before = FormatHostBlock(host);
  ASSERT_NE(before.find("<HDS>" + bytes + "</HDS>"), std::string::npos);
  EXPECT_TRUE(Edit(host, [&] {
    EXPECT_EQ(Find<QLineEdit>("HostNameEdit")->text(), text);
    EXPECT_EQ(Find<QLineEdit>("HostDescEdit")->text(), text);
    EXPECT_EQ(Find<QPlainTextEdit>("LossMesBodyEdit")->toPlainText(), text + "\n" + text);
    Click("Ok");
  }));
  EXPECT_EQ(FormatHostBlock(host), before);

  EXPECT_TRUE(Edit(host, [&] {
    Find<QLineEdit>("HostDescEdit")->setText(text + "!");
    Click("Ok");
  }));
  const std::string after = FormatHostBlock(host);
  EXPECT_NE(after.find("<HN>" + bytes + "</HN>"), std::string::npos);
  EXPECT_NE(after.find("<HDS>" + std::string(GetParam().text) + "!</HDS>"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Samples, HostFormTextTest, ::testing::ValuesIn(testing::kTextSamples),
                         testing::SampleName);

TEST_F(HostFormTest, CancelEscEnterOnCancelAndCloseChangeNothing) {
  HostEntry host;
  testing::SetEveryField(host);
  const auto before = testing::BlockLines(host);
  const std::function<void()> endings[] = {
      [&] { Click("Cancel"); },
      [&] { QTest::keyClick(Find<QLineEdit>("HostIPEdit"), Qt::Key_Escape); },
      [&] { form->close(); },
      [&] {
        // Enter acts only on the focused button: never "Ok" from a field.
        QTest::keyClick(Find<QLineEdit>("HostIPEdit"), Qt::Key_Return);
        EXPECT_TRUE(form->isVisible());
        Find<QPushButton>("Cancel")->setFocus();
        QTest::keyClick(Find<QPushButton>("Cancel"), Qt::Key_Return);
      },
  };
  for (const auto& end : endings) {
    EXPECT_FALSE(Edit(host, [&] {
      Type("HostIPEdit", "10.9.9.9");
      Type("LightTime1Edit", "1");
      Find<QComboBox>("CheckEveryCombo")->setCurrentIndex(0);
      Find<QCheckBox>("GoesDown", "Onloss")->setChecked(false);
      Find<QPlainTextEdit>("RenewalMesBodyEdit")->setPlainText("changed");
      end();
    }));
    EXPECT_EQ(testing::BlockLines(host), before);
  }
}

TEST_F(HostFormTest, FailedChecksKeepTheDialogOpenWithTheInput) {
  HostEntry host;
  EXPECT_TRUE(Edit(host, [&] {
    Find<QComboBox>("CheckEveryCombo")->setCurrentIndex(2);
    Type("HostNameEdit", "printer");
    Click("Ok");
    EXPECT_EQ(desktop.Calls().back(),
              "box:Error...:Please, check your settings. Set day of week !!!\r\nSet time!!!\r\n");
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(Find<QLineEdit>("HostNameEdit")->text(), "printer");
    Find<QCheckBox>("Tuesday")->setChecked(true);
    Find<QListWidget>("TimesList")->item(16)->setCheckState(Qt::Checked);
    Click("Ok");
  }));
  EXPECT_EQ(host.CheckEvery, 2);
  EXPECT_EQ(host.DaysOfWeek, 4);
  EXPECT_EQ(host.Times, uint64_t{1} << 16);
  EXPECT_EQ(host.HostName.Get(), "printer");
}

TEST_F(HostFormTest, ANameAloneThatResolvesIsTakenAndPingedByThatName) {
  HostEntry host;
  host.HostIP.Set("");  // a new host
  EXPECT_TRUE(Edit(host, [&] {
    EXPECT_EQ(Find<QLineEdit>("HostIPEdit")->text(), "");
    Type("HostNameEdit", "nowhere");
    Click("Ok");  // a name that does not resolve still needs an address
    EXPECT_EQ(desktop.Calls().back(),
              "box:Error...:Please, check your settings. Incorrect IP address !!!\r\n");
    Type("HostNameEdit", "gate.lan");
    Click("Ok");
  }));
  EXPECT_FALSE(host.PingByIP);
  EXPECT_EQ(host.HostName.Get(), "gate.lan");
  EXPECT_EQ(host.HostIP.Get(), "10.0.0.1");
}

TEST_F(HostFormTest, ClampsApplyOnLeavingAFieldOrOnOkAndThresholdsWhileTyping) {
  HostEntry host;
  host.OnLoss.Alarm = true;
  EXPECT_TRUE(Edit(host, [&] {
    Find<QComboBox>("CheckEveryCombo")->setCurrentIndex(1);
    Type("DayOfMonthEdit", "45");
    EXPECT_EQ(Find<QLineEdit>("DayOfMonthEdit")->text(), "45");  // nothing while typing
    EXPECT_TRUE(desktop.Calls().empty());
    Leave("DayOfMonthEdit");
    EXPECT_EQ(Find<QLineEdit>("DayOfMonthEdit")->text(), "31");
    // Cleared and typed anew, no "1" comes in between: "7", not "17".
    QLineEdit* day = Find<QLineEdit>("DayOfMonthEdit");
    day->selectAll();
    QTest::keyClick(day, Qt::Key_Backspace);
    QTest::keyClicks(day, "7");
    Leave("DayOfMonthEdit");
    EXPECT_EQ(day->text(), "7");
    Type("TraceTTLEdit", "3x00");  // the letter is refused
    Leave("TraceTTLEdit");
    EXPECT_EQ(Find<QLineEdit>("TraceTTLEdit")->text(), "255");
    Type("LossRepeatCountEdit", "0");
    Leave("LossRepeatCountEdit");
    EXPECT_EQ(Find<QLineEdit>("LossRepeatCountEdit")->text(), "1");
    Type("LossRepeatCountEdit", "123");
    EXPECT_EQ(Find<QLineEdit>("LossRepeatCountEdit")->text(), "12");
    Type("HostIPEdit", "10.g0.0.1");
    EXPECT_EQ(Find<QLineEdit>("HostIPEdit")->text(), "10.0.0.1");
    Type("TimeOutEdit", "3000");
    Type("LightTime4Edit", "3000");
    EXPECT_EQ(Find<QLineEdit>("LightTime4Edit")->text(), "3000");
    Find<QListWidget>("TimesList")->item(0)->setCheckState(Qt::Checked);
    // Typed but not left: "Ok" keeps it within its bounds first.
    Type("TraceBufferSizeEdit", "0");
    Click("Ok");
  }));
  EXPECT_EQ(desktop.Calls(),
            (std::vector<std::string>{
                "beep", "beep", "beep",
                "box:Error...:Please, check your settings. This value can't be more than the ping "
                "timeout!!!",
                "beep"}));
  EXPECT_EQ(host.DayOfMonth, 7);
  EXPECT_EQ(host.TraceTTL, 255);
  EXPECT_EQ(host.TraceBufferSize, 1);
  EXPECT_EQ(host.OnLoss.RepeatCount, 12);
  EXPECT_EQ(host.LightTimes[3], 3000);
}

TEST_F(HostFormTest, EnablingFollowsTheBoxes) {
  HostEntry host;
  host.CheckEvery = 3;
  host.OnRenewal.Alarm = true;
  host.OnRenewal.SendEmail = true;
  EXPECT_FALSE(Edit(host, [&] {
    EXPECT_FALSE(Find<QLineEdit>("PingIntervalEdit")->isEnabled());
    EXPECT_TRUE(Find<QListWidget>("TimesList")->isEnabled());
    EXPECT_FALSE(Find<QCheckBox>("Monday")->isEnabled());
    EXPECT_TRUE(Find<QLineEdit>("RenewalEmailAddressEdit")->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("RenewalWAVFileEdit")->isEnabled());
    EXPECT_FALSE(Find<QCheckBox>("ShowBox", "Onloss")->isEnabled());
    EXPECT_TRUE(Find<QComboBox>("PingByCombo")->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("MaxNumHopsEdit")->isEnabled());

    Find<QComboBox>("CheckEveryCombo")->setCurrentIndex(2);
    EXPECT_TRUE(Find<QCheckBox>("Monday")->isEnabled());
    Find<QCheckBox>("RunPrg", "Onrenewal")->setChecked(true);
    EXPECT_TRUE(Find<QLabel>("Params", "Onrenewal")->isEnabled());
    Find<QCheckBox>("WakeUp")->setChecked(false);
    EXPECT_FALSE(Find<QLineEdit>("RenewalEmailAddressEdit")->isEnabled());
    EXPECT_FALSE(Find<QLabel>("Params", "Onrenewal")->isEnabled());
    EXPECT_FALSE(Find<QLineEdit>("RenewalRepeatCountEdit")->isEnabled());
    // A second edit while the dialog is open does nothing.
    HostEntry other;
    other.HostName.Set("untouched");
    EXPECT_FALSE(form->EditHost(other));
    EXPECT_EQ(other.HostName.Get(), "untouched");
    Click("Cancel");
  }));
}

TEST_F(HostFormTest, LookupsTestsChoosersAndHelp) {
  HostEntry host;
  host.OnLoss.Alarm = true;
  host.OnLoss.PlayWAV = host.OnLoss.SendLan = host.OnLoss.SendEmail = host.OnLoss.RunPrg = true;
  chosen = "/sounds/new.wav";
  EXPECT_FALSE(Edit(host, [&] {
    Type("HostIPEdit", "10.0.0.1");
    Click("ToName");
    EXPECT_EQ(Find<QLineEdit>("HostNameEdit")->text(), "gate.lan");
    Type("HostIPEdit", "10.0.0.7");
    Click("ToName");
    Find<QLineEdit>("HostNameEdit")->clear();
    Click("ToIP");  // this computer's own name
    EXPECT_EQ(Find<QLineEdit>("HostIPEdit")->text(), "10.0.0.1");
    Type("HostNameEdit", "nowhere");
    Click("ToIP");

    Type("LossWAVFileEdit", " /sounds/old.wav ");
    Click("LossWAVFileBrowse");
    Button("Test: Play WAV file: (On loss)")->click();
    chosen.clear();
    Click("LossProgramNameBrowse");  // cancelled: the field stays empty
    EXPECT_EQ(Find<QLineEdit>("LossProgramNameEdit")->text(), "");
    Button("Test: Send message to this computer: (On loss)")->click();  // empty: nothing
    Type("LossLanNameEdit", "PC7");
    Button("Test: Send message to this computer: (On loss)")->click();
    Button("Test: Send message to this e-mail: (On loss)")->click();
    Type("LossEmailAddressEdit", "ops@example.org");
    options.Port = 0;
    Button("Test: Send message to this e-mail: (On loss)")->click();
    options.Port = 25;
    Button("Test: Send message to this e-mail: (On loss)")->click();
    for (int page = 0; page < 6; ++page) {
      Find<QTabWidget>("Pages")->setCurrentIndex(page);
      Click("Help");
    }
    Click("Cancel");
  }));
  EXPECT_EQ(desktop.Calls(),
            (std::vector<std::string>{
                "box:Error...:Please, check your settings. Can't determine host name !!!",
                "box:Error...:Please, check your settings. Can't determine IP address !!!",
                "sound:/sounds/new.wav",
                "box:Sentrel Error:I'm sorry. The \"To\" address is incorrect!",
                "box:Sentrel Error:I'm sorry. The SMTP Port is incorrect!",
                "box:Sentrel:The server accepted the test message.\nEncryption: none\n"
                "Authentication: none",
                "help:15:80",
                "help:15:90", "help:15:100", "help:15:110", "help:15:120", "help:15:125"}));
  EXPECT_EQ(channels.Calls(),
            (std::vector<std::string>{"net:PC7|Lan Test|Test message from Sentrel!",
                                      "mail:ops@example.org|Sentrel Test Message|Test message "
                                      "from Sentrel!"}));
  ASSERT_EQ(chooser.size(), 2u);
  EXPECT_EQ(chooser[0].title, "Select WAV File");
  EXPECT_EQ(chooser[0].filters, (QStringList{"WAV Files (*.wav)", "All Files (*)"}));
  EXPECT_EQ(chooser[0].start, "/sounds/old.wav");
  EXPECT_EQ(chooser[1].title, "Select program file");
  EXPECT_EQ(chooser[1].start, "/opt/sentrel");
  EXPECT_EQ(host.OnLoss.WAVFile.Get(), "");  // cancelled at the end
}

TEST_F(HostFormTest, CaptionsAreSetByKeyAndEveryControlIsNamed) {
  EXPECT_TRUE(form->SetCaption("HostForm", "TimeOut", "Wartezeit:"));
  EXPECT_EQ(Find<QLabel>("TimeOut")->text(), "Wartezeit:");
  EXPECT_EQ(Find<QLabel>("TraceTimeOutLabel")->text(), "Wartezeit:");
  EXPECT_TRUE(form->SetCaption("hostform", "onloss", "Bei &Ausfall"));
  EXPECT_EQ(Find<QTabWidget>("Pages")->tabText(3), "Bei &Ausfall");
  EXPECT_EQ(Find<QGroupBox>("LossTemplateBox")->title(), "Bei &Ausfall");
  EXPECT_TRUE(form->SetCaption("HostForm", "Week", "jede Woche"));
  EXPECT_EQ(Find<QComboBox>("CheckEveryCombo")->itemText(2), "jede Woche");
  EXPECT_TRUE(form->SetCaption("HostForm", "Test", "Probe"));
  EXPECT_EQ(Button("Probe: Play WAV file: (On renewal)")->text(), "Probe");
  // The day group's caption comes from the options dialog's section only.
  EXPECT_FALSE(form->SetCaption("HostForm", "DaysOfWeek", "x"));
  EXPECT_TRUE(form->SetCaption("OptionsForm", "DaysOfWeek", "Wochentage"));
  EXPECT_EQ(Find<QGroupBox>("DaysOfWeek")->title(), "Wochentage");
  EXPECT_TRUE(form->SetCaption("Buttons", "Ok", "Gut"));
  EXPECT_EQ(Find<QPushButton>("Ok")->text(), "Gut");
  EXPECT_FALSE(form->SetCaption("OptionsForm", "Port", "x"));

  int controls = 0;
  for (QWidget* w : form->findChildren<QWidget*>()) {
    const bool control = qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w) ||
                         qobject_cast<QComboBox*>(w) || qobject_cast<QListWidget*>(w) ||
                         qobject_cast<QPlainTextEdit*>(w);
    if (!control || w->objectName().startsWith("qt_") || w->parent()->objectName().startsWith("qt_"))
      continue;
    ++controls;
    EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    EXPECT_FALSE(w->objectName().isEmpty());
  }
  EXPECT_GT(controls, 60);
}

TEST_F(HostFormTest, LanguageFileSetsEveryCaptionAndTheNamesFollow) {
  form->ApplyLanguage(IniFile::Parse(
      "[HostForm]\nCaption=Host-Eigenschaften\nTest=Probe\nDay=jeden Tag\n[Buttons]\nOk=Gut\n"));
  EXPECT_EQ(form->windowTitle(), "Host-Eigenschaften");
  EXPECT_EQ(Find<QPushButton>("Ok")->text(), "Gut");
  EXPECT_EQ(Find<QComboBox>("CheckEveryCombo")->itemText(3), "jeden Tag");
  EXPECT_EQ(Button("Probe: Play WAV file: (On loss)")->text(), "Probe");
  // Without a file every caption goes back to the built-in text.
  form->ApplyLanguage(std::nullopt);
  EXPECT_EQ(form->windowTitle(), "Host Properties");
  EXPECT_EQ(Find<QPushButton>("Ok")->text(), "Ok");
  EXPECT_EQ(Find<QComboBox>("CheckEveryCombo")->itemText(3), "every Day");
  EXPECT_EQ(Button("Test: Play WAV file: (On loss)")->text(), "Test");
}

}  // namespace
}  // namespace sentrel
