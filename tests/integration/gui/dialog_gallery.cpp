#include "dialog_gallery.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>

#include "core/host_entry.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_desktop.h"
#include "fakes/recording_channels.h"
#include "fakes/test_files.h"
#include "gui/about_box.h"
#include "gui/dialogs/host_form.h"
#include "gui/dialogs/options_form.h"
#include "gui/dialogs/password_form.h"
#include "gui/history_window.h"
#include "gui/library_translations.h"
#include "history/history_store.h"
#include "notify/dial_up.h"
#include "notify/notify_target.h"
#include "platform/registry.h"
#include "settings/language_files.h"
#include "settings/options.h"
#include "settings/password.h"

namespace sentrel::testing {

namespace {

constexpr const char* kPassword = "gallery";

// Runs `open`, which shows modal dialogs one after another; `act` gets each
// of them once it is on the screen and must end it. Whatever is still open
// after 20 s is closed, so that a broken step cannot hang.
void WithModals(const std::function<void()>& open, const std::function<void(QDialog&)>& act) {
  QTimer poll;
  bool acting = false;  // the pages are shown with the events processed
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (acting || !modal || !modal->isVisible()) return;
    acting = true;
    act(*modal);
    acting = false;
  });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] {
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->done(0);
  });
  poll.start(10);
  guard.start(20000);
  open();
}

// Visits the pages of a tabbed dialog in order.
void VisitTabs(QDialog& dialog, const PageVisitor& visit) {
  auto* tabs = dialog.findChild<QTabWidget*>("Pages");
  for (int i = 0; tabs && i < tabs->count(); ++i) {
    tabs->setCurrentIndex(i);
    QApplication::processEvents();
    visit({dialog, dialog.objectName(), tabs->widget(i)->objectName()});
  }
}

}  // namespace

struct DialogGallery::Parts {
  explicit Parts(const std::string& languageFolder) : folder(languageFolder) {
    std::string error;
    passwords.Replace(kPassword, &error);
    // Two targets, so that the lists that show them are not empty.
    StoreTarget(registry, {"ops-chat", "slack", "https://chat.example/hooks/ops", {}});
    StoreTarget(registry, {"pager", "ntfy", "https://ntfy.example", {{"Topic", "pager"}}});
  }

  static HostFormServices HostServices(const Registry& registry) {
    HostFormServices services;
    services.targetNames = [&registry] {
      std::vector<std::string> names;
      for (const NotifyTarget& target : LoadTargets(registry)) names.push_back(target.Name);
      return names;
    };
    return services;
  }

  std::string folder;
  TempDir dir;
  Registry registry{dir.Path() + "/registry.reg"};
  PasswordStore passwords{registry};
  FakeDesktop desktop;
  RecordingChannels channels;
  FakeClock clock{EncodeDateTime({2026, 3, 2, 12, 0, 0, 0})};
  ROptions options;
  DialUp dialUp{Nmcli("")};
  PasswordForm password{passwords, desktop};
  HostForm host{options, desktop, channels, HostServices(registry)};
  OptionsForm optionsForm{{options, registry, desktop, password, dialUp,
                           ListLanguageFiles({folder}), {}, {}}};
  AboutBox about;
  LibraryTranslations library;
  HistoryWindow history{{HistoryStore::PathIn(dir.Path()), clock,
                         [] { return std::vector<ListedHost>{}; }}};
};

DialogGallery::DialogGallery(const std::string& languageFolder)
    : parts_(std::make_unique<Parts>(languageFolder)) {
  // As the program has it: the e-mail page shows its "Test" button.
  parts_->optionsForm.SetMailTest([](const ROptions&, const std::string&) { return MailResult{}; });
}

DialogGallery::~DialogGallery() = default;

void DialogGallery::ApplyLanguage(const std::string& language) {
  Parts& p = *parts_;
  p.options.Language = language;
  const std::optional<IniFile> file = LoadLanguage(language, {p.folder});
  p.host.ApplyLanguage(file);
  p.optionsForm.ApplyLanguage(file);
  p.password.ApplyLanguage(file);
  p.history.ApplyLanguage(file);
  p.about.ApplyLanguage(file);
  p.library.Apply(file);
}

void DialogGallery::VisitPages(const PageVisitor& visit) {
  Parts& p = *parts_;
  HostEntry entry;
  WithModals([&] { p.host.EditHost(entry); },
             [&](QDialog& dialog) {
               VisitTabs(dialog, visit);
               dialog.reject();
             });
  // The options dialog asks for the password first.
  WithModals([&] { p.optionsForm.EditOptions(); },
             [&](QDialog& dialog) {
               if (&dialog == &p.password) {
                 visit({dialog, dialog.objectName(), "Input"});
                 dialog.findChild<QLineEdit*>("InputPasswordEdit")->setText(kPassword);
                 dialog.done(PasswordForm::kResultOk);
                 return;
               }
               VisitTabs(dialog, visit);
               dialog.done(OptionsForm::kResultCancel);
             });
  WithModals([&] { p.password.SetPassword(); },
             [&](QDialog& dialog) {
               if (dialog.findChild<QLineEdit*>("InputPasswordEdit")->isVisible()) {
                 dialog.findChild<QLineEdit*>("InputPasswordEdit")->setText(kPassword);
                 dialog.done(PasswordForm::kResultOk);
                 return;
               }
               visit({dialog, dialog.objectName(), "Set"});
               dialog.done(PasswordForm::kResultCancel);
             });
  WithModals([&] { p.about.ShowModal({"/home/operator/.local/share/sentrel",
                                      "/home/operator/.local/share/sentrel",
                                      "/home/operator/.config/sentrel/registry.reg"}); },
             [&](QDialog& dialog) {
               visit({dialog, dialog.objectName(), "About"});
               dialog.accept();
             });
  FileChooserRequest request{"Select WAV File", {"WAV Files (*.wav)", "All Files (*)"},
                             "All Files (*)", "wav", QString::fromStdString(p.folder)};
  WithModals([&] { ChooseFileWithDialog(nullptr, request); },
             [&](QDialog& dialog) {
               visit({dialog, "FileChooser", "Open"});
               dialog.reject();
             });
  p.history.ShowHost(std::nullopt);
  p.history.show();
  QApplication::processEvents();
  visit({p.history, p.history.objectName(), "History"});
  p.history.hide();
}

}  // namespace sentrel::testing
