#include "gui/qt/qt_desktop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

#include "gui/help_window.h"
#include "gui/sound_player.h"
#include "platform/program_start.h"

namespace sentrel {

namespace {

QMessageBox::Icon ToQt(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// The buttons of a box carry their word alone: a style's pictures on them
// (a tick on "OK") say nothing the word does not.
void PlainButtons(QMessageBox& box) {
  for (QAbstractButton* button : box.buttons()) button->setIcon(QIcon());
}

}  // namespace

QtDesktop::QtDesktop(SoundPlayer& sound, HelpWindow& help) : sound_(sound), help_(help) {}

MessageResult QtDesktop::ShowMessage(const std::string& text, const std::string& caption,
                                     MessageIcon icon, MessageButtons buttons) {
  // A box asked for while a modal dialog is up belongs on that dialog: the
  // options dialog stays on top of the main window and would hide it.
  QWidget* owner = QApplication::activeModalWidget();
  if (owner == nullptr) owner = owner_.data();
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  buttons == MessageButtons::YesNo ? QMessageBox::Yes | QMessageBox::No
                                                   : QMessageBox::Ok,
                  owner != nullptr && owner->isVisible() ? owner : nullptr);
  box.setObjectName("MessageBox");
  PlainButtons(box);
  // exec() runs a local event loop: the workers' hand-offs keep being served.
  const int answer = box.exec();
  if (buttons == MessageButtons::Ok) return MessageResult::Ok;
  return answer == QMessageBox::Yes ? MessageResult::Yes : MessageResult::No;
}

void QtDesktop::ShowAlert(const std::string& text, const std::string& caption,
                          MessageIcon icon) {
  QMessageBox box(ToQt(icon), QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok);
  box.setObjectName("AlertBox");
  PlainButtons(box);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  // exec() runs a local event loop: the workers' hand-offs keep being served,
  // so several alerts may be open at once.
  box.exec();
}

void QtDesktop::OpenAlert(const std::string& text, const std::string& caption,
                          MessageIcon icon, std::function<void()> closed) {
  auto* box = new QMessageBox(ToQt(icon), QString::fromStdString(caption),
                              QString::fromStdString(text), QMessageBox::Ok);
  box->setObjectName("AlertBox");
  box->setWindowFlag(Qt::WindowStaysOnTopHint);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  QObject::connect(box, &QMessageBox::finished, box, [closed = std::move(closed)] {
    if (closed) closed();
  });
  std::erase_if(alerts_, [](const QPointer<QWidget>& open) { return open.isNull(); });
  alerts_.emplace_back(box);
  box->show();
}

QtDesktop::~QtDesktop() {
  for (const QPointer<QWidget>& box : alerts_) delete box.data();
}

void QtDesktop::PlaySound(const std::string& wavFile, bool loop) { sound_.Play(wavFile, loop); }

void QtDesktop::StopSounds() { sound_.StopAll(); }

void QtDesktop::Beep() { sound_.Beep(); }

void QtDesktop::StartProgram(const std::string& program, const std::string& params) {
  sentrel::StartProgram(program, params);
}

void QtDesktop::ShowHelp(int command, int data) {
  if (!help_.Show(command, data)) {
    ShowMessage("Cant find file \"" + help_.ContentsPath() + "\"", kApplicationTitle,
                MessageIcon::Error, MessageButtons::Ok);
  }
}

}  // namespace sentrel
