#include "gui/language_captions.h"

#include <map>

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>

#include "settings/ini_file.h"

namespace sentrel {

namespace {

// The lists of a window and the combo box that shows each.
const std::map<CaptionList, const char*> kListBoxes{
    {CaptionList::kLogDetail, "LogDetailList"},
    {CaptionList::kSendEvery, "SendEveryList"},
    {CaptionList::kNetMessageCodePage, "NetMessageCodePageList"},
    {CaptionList::kSendVia, "SendViaList"},
    {CaptionList::kEncryption, "SMTPSecurityList"},
};

void SetCaption(QWidget& widget, const QString& text) {
  SetWidgetCaption(widget, text);
  // A tab page carries its caption on the tab.
  for (QWidget* up = widget.parentWidget(); up; up = up->parentWidget()) {
    if (auto* tabs = qobject_cast<QTabWidget*>(up)) {
      const int index = tabs->indexOf(&widget);
      if (index >= 0) tabs->setTabText(index, text);
      break;
    }
  }
}

void RefillList(QWidget& window, CaptionList list, const std::optional<IniFile>& file) {
  const auto name = kListBoxes.find(list);
  if (name == kListBoxes.end()) return;
  auto* box = window.findChild<QComboBox*>(name->second);
  if (!box) return;
  const int selected = box->currentIndex();
  box->clear();
  for (const std::string& item : ListCaptions(file, list)) box->addItem(QString::fromStdString(item));
  box->setCurrentIndex(selected);
}

}  // namespace

void SetWidgetCaption(QWidget& widget, const QString& text) {
  if (auto* label = qobject_cast<QLabel*>(&widget)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(&widget)) {
    button->setText(text);
  } else if (auto* group = qobject_cast<QGroupBox*>(&widget)) {
    group->setTitle(text);
  }
}

void ApplyCaptionsByName(QWidget& window, LanguageWindow which, const std::optional<IniFile>& file) {
  std::map<CaptionList, bool> refilled;
  for (const CaptionRead& read : WindowCaptions(which)) {
    const Caption& caption = *read.caption;
    if (caption.list != CaptionList::kNone) {
      if (!refilled[caption.list]) RefillList(window, caption.list, file);
      refilled[caption.list] = true;
      continue;
    }
    const QString name = QString::fromUtf8(caption.key.data(), static_cast<qsizetype>(caption.key.size()));
    const QString text = QString::fromStdString(CaptionText(file, read.section, caption.key));
    if (window.objectName() == name || caption.key == kWindowTitleKey) window.setWindowTitle(text);
    for (QWidget* child : window.findChildren<QWidget*>(name)) SetCaption(*child, text);
  }
}

}  // namespace sentrel
