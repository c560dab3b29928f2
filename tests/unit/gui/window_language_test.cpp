// Every text that the window and its dialogs show, walked widget by widget
// in German and in Russian: each of its words must come from the language
// file, from the data the test put in, or be a name that stays as it is. An
// English text left in the code shows as a word the file does not have.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeView>

#include "core/monitor.h"
#include "fakes/fake_clock.h"
#include "fakes/recording_channels.h"
#include "fakes/test_files.h"
#include "gui/about_box.h"
#include "gui/app_tray.h"
#include "gui/dialogs/host_form.h"
#include "gui/dialogs/options_form.h"
#include "gui/dialogs/password_form.h"
#include "gui/help_window.h"
#include "gui/host_table_model.h"
#include "gui/history_window.h"
#include "gui/library_translations.h"
#include "gui/main_window.h"
#include "history/history_store.h"
#include "notify/dial_up.h"
#include "platform/icmp_library.h"
#include "platform/registry.h"
#include "probes/address.h"
#include "settings/language_files.h"
#include "settings/language_table.h"
#include "settings/password.h"
#include "unit/core/engine_test_env.h"

namespace sentrel {
namespace {

using namespace std::chrono_literals;

const std::filesystem::path kShipped = std::filesystem::path(SENTREL_SOURCE_DIR) / "resources/lang";

// Names that no language translates, and the data this test shows.
const std::set<QString> kKeptWords{
    "Sentrel", "IPv", "StatusStr", "alpha", "beta", "gamma", "router", "delta",
    // Notification target kinds, the values they take and the URL scheme:
    // the words typed into the registry and the command line, in every language.
    "webhook", "slack", "teams", "discord", "telegram", "ntfy", "gotify", "Token", "ChatId",
    "Topic", "Priority", "Body", "CAFile", "https"};

QStringList Words(const QString& text) {
  QString plain = text;
  plain.remove(QRegularExpression("<[^>]*>"));  // rich text
  return plain.split(QRegularExpression("[^\\p{L}]+"), Qt::SkipEmptyParts);
}

// Every text that `root` and its children show, menus included.
QStringList ShownTexts(QWidget& root) {
  QStringList texts{root.windowTitle()};
  const auto actions = [&texts](const QList<QAction*>& list) {
    for (const QAction* action : list) texts << action->text();
  };
  QList<QWidget*> widgets = root.findChildren<QWidget*>();
  widgets << &root;
  for (QWidget* w : widgets) {
    if (auto* label = qobject_cast<QLabel*>(w)) texts << label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) texts << button->text();
    if (auto* group = qobject_cast<QGroupBox*>(w)) texts << group->title();
    if (auto* menu = qobject_cast<QMenu*>(w)) actions(menu->actions());
    if (auto* bar = qobject_cast<QMenuBar*>(w)) actions(bar->actions());
    if (auto* edit = qobject_cast<QLineEdit*>(w)) texts << edit->text() << edit->placeholderText();
    if (auto* memo = qobject_cast<QPlainTextEdit*>(w)) texts << memo->toPlainText() << memo->placeholderText();
    if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
      for (int i = 0; i < tabs->count(); ++i) texts << tabs->tabText(i);
    }
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
      for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    }
    if (auto* list = qobject_cast<QListWidget*>(w)) {
      for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    }
    if (auto* view = qobject_cast<QAbstractItemView*>(w); view && view->model()) {
      const QAbstractItemModel& model = *view->model();
      for (int c = 0; c < model.columnCount(); ++c) {
        texts << model.headerData(c, Qt::Horizontal).toString();
        for (int r = 0; r < model.rowCount(); ++r) texts << model.index(r, c).data().toString();
      }
    }
  }
  return texts;
}

class WindowLanguageTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    file = LoadLanguage(GetParam(), {kShipped});
    ASSERT_TRUE(file.has_value());
    for (const std::string& section : file->Sections()) {
      for (const std::string& key : file->Keys(section)) {
        for (const QString& word : Words(QString::fromStdString(*file->Get(section, key))))
          known.insert(word);
      }
    }
    known.insert(kKeptWords.begin(), kKeptWords.end());
  }

  // Every word that `root` shows and the language file does not know.
  void ExpectOnlyKnownWords(QWidget& root, const char* what) {
    for (const QString& text : ShownTexts(root)) {
      for (const QString& word : Words(text)) {
        EXPECT_TRUE(known.count(word)) << what << ": \"" << word.toStdString() << "\" in \""
                                       << text.toStdString() << "\" (" << GetParam() << ")";
      }
    }
  }

  std::optional<IniFile> file;
  std::set<QString> known;
};

TEST_P(WindowLanguageTest, EveryWindowAndDialogShowsOnlyTheLanguagesWords) {
  testing::TempDir dir;
  testing::EngineEnv env;
  env.options.PathToData = dir.Path();
  env.options.Language = GetParam();
  // One host answers, one is lost, one is not checked.
  const uint32_t lost = ResolveAddress("10.0.0.2").V4Value();
  env.library->SetRule([lost](uint32_t address, const IcmpEchoOptions&) {
    if (address == lost) return testing::ScriptedEchoLibrary::Answer{std::nullopt, {}};
    return testing::ScriptedEchoLibrary::Answer{IcmpEchoReply{address, kIpSuccess, 3}, {}};
  });
  testing::PutFile(dir.Path() + "/sentrel.xml",
                   "<H>\r\n<HIP>10.0.0.1</HIP>\r\n<HN>alpha</HN>\r\n<CHK>T</CHK>\r\n<PI>1</PI>\r\n</H>\r\n"
                   "<H>\r\n<HIP>10.0.0.2</HIP>\r\n<HN>beta</HN>\r\n<CHK>T</CHK>\r\n<PI>1</PI>\r\n</H>\r\n"
                   "<H>\r\n<HIP>10.0.0.3</HIP>\r\n<HN>gamma</HN>\r\n</H>\r\n");
  Monitor monitor(env.Services(WorkerTiming{2ms, 2ms, 5}));
  WindowPlacement placement;
  AppTray tray({[] { return false; }, [] {}, [] {}, [] { return true; }, [](bool) {},
                [] { return true; }, [] {}, [] {}, [] {}, [] {}, {}});
  MainWindowHooks hooks;
  hooks.setTrayCaptions = [&tray](const TrayCaptions& captions) { tray.SetCaptions(captions); };
  MainWindow window(monitor, env.options, env.desktop, env.log, placement, hooks);
  window.Start();
  window.SetPinging(true);
  HostList& hosts = monitor.Hosts();
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while ((hosts.Host(0).State != 0 || hosts.Host(1).State <= 0) &&
         std::chrono::steady_clock::now() < deadline) {
    env.ui.RunFor(5ms);
  }
  window.RefreshList();
  ASSERT_EQ(window.Model().index(1, 0).data(HostTableModel::kImageRole).toInt(), 5);

  testing::RecordingChannels channels;
  HostForm hostForm(env.options, env.desktop, channels);
  Registry registry(dir.Path() + "/registry.reg");
  PasswordStore passwords(registry);
  PasswordForm password(passwords, env.desktop);
  DialUp dialUp{Nmcli("")};
  OptionsForm options({env.options, registry, env.desktop, password, dialUp,
                       ListLanguageFiles({kShipped}), {}, {}});
  AboutBox about;
  HelpWindow help({SENTREL_SOURCE_DIR "/resources/help"});

  // A host that never answered, its outage going on.
  testing::FakeClock clock(EncodeDateTime({2026, 3, 2, 12, 0, 0, 0}));
  const HistoryHost router{"10.0.0.9", "router"};
  {
    HistoryStoreSettings settings;
    settings.path = HistoryStore::PathIn(dir.Path());
    testing::FakeClock writer(EncodeDateTime({2026, 3, 2, 11, 0, 0, 0}));
    HistoryStore store(settings, writer);
    for (int minute = 0; minute < 50; ++minute) {
      store.Record({router, EncodeDateTime({2026, 3, 2, 11, minute, 0, 0}), kIpRequestTimedOut, 0,
                    true, static_cast<int32_t>(kIpRequestTimedOut), minute == 0 ? -1 : 11010});
    }
    writer.Set(EncodeDateTime({2026, 3, 2, 11, 55, 0, 0}));
    store.Flush();
  }
  HistoryWindow history({HistoryStore::PathIn(dir.Path()), clock, {}});

  const std::optional<IniFile>& language = file;
  window.ApplyLanguage(language);
  hostForm.ApplyLanguage(language);
  options.ApplyLanguage(language);
  password.ApplyLanguage(language);
  about.ApplyLanguage(language);
  history.ApplyLanguage(language);
  help.ApplyLanguage(QString::fromStdString(CaptionText(language, "MainForm", "HelpTitle")),
                     QString::fromStdString(CaptionText(language, "MainForm", "HelpNotTranslated")),
                     LanguageLocale(language));
  history.ShowHost(router);
  ASSERT_TRUE(help.Show(1, 0));
  EXPECT_TRUE(help.SaysUntranslated());

  ExpectOnlyKnownWords(window, "main window");
  ExpectOnlyKnownWords(hostForm, "host dialog");
  ExpectOnlyKnownWords(options, "options dialog");
  ExpectOnlyKnownWords(password, "password dialog");
  ExpectOnlyKnownWords(about, "about box");
  ExpectOnlyKnownWords(history, "history window");
  ExpectOnlyKnownWords(help, "help window");
  tray.UpdateMenu();
  ExpectOnlyKnownWords(tray.Menu(), "tray menu");
  // The failure's words and the outage's state came through in the language.
  ASSERT_GE(history.OutageTable().rowCount(), 1);
  EXPECT_EQ(history.OutageTable().item(0, 3)->text(),
            "11010 " + QString::fromStdString(*file->Get("HistoryForm", "Status11010")));
  help.hide();
  history.hide();
  window.SetPinging(false);
}

// The library's own dialogs follow the language file, not the desktop.
TEST_P(WindowLanguageTest, TheLibrarysOwnTextsFollowTheLanguageFile) {
  LibraryTranslations library;
  ASSERT_TRUE(library.Apply(file)) << "qt6-translations-l10n is missing";
  EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:"), "Look in:");
  EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
  EXPECT_FALSE(library.Apply(std::nullopt));
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), "Look in:");
}

INSTANTIATE_TEST_SUITE_P(Languages, WindowLanguageTest, ::testing::Values("German", "Russian"),
                         [](const auto& test) { return std::string(test.param); });

}  // namespace
}  // namespace sentrel
