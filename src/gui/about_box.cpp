#include "gui/about_box.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/artwork.h"
#include "settings/language_table.h"

namespace sentrel {

namespace {

// The width of the about text, in average characters.
constexpr int kTextColumns = 56;

}  // namespace

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent), text_(new QLabel(this)), files_(new QLabel(this)) {
  setObjectName("AboutBox");
  auto* picture = new QLabel(this);
  picture->setPixmap(ProgramIcon().pixmap(48, 48));
  text_->setObjectName("AboutText");
  text_->setTextFormat(Qt::RichText);
  text_->setWordWrap(true);
  files_->setObjectName("AboutFiles");
  files_->setTextFormat(Qt::PlainText);
  files_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  files_->setWordWrap(true);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  auto* buttons = buttons_;
  buttons->setObjectName("OkBtn");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* column = new QVBoxLayout;
  column->addWidget(text_);
  column->addWidget(files_);
  auto* row = new QHBoxLayout;
  row->addWidget(picture, 0, Qt::AlignTop);
  row->addLayout(column, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  // The wrapped texts decide the height from the width: a window of one
  // size, measured afresh for each opening, never cuts them.
  text_->setMinimumWidth(text_->fontMetrics().averageCharWidth() * kTextColumns);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  ApplyLanguage(std::nullopt);
}

void AboutBox::ApplyLanguage(const std::optional<IniFile>& file) {
  language_ = file;
  setWindowTitle(Text("AboutTitle"));
  buttons_->button(QDialogButtonBox::Ok)
      ->setText(QString::fromStdString(CaptionText(file, kButtonsSection, "Ok")));
  text_->setText(QString("<b>Sentrel</b> %1<br><br>%2<br><br>%3")
                     .arg(QString(SENTREL_VERSION), Text("AboutPurpose").toHtmlEscaped(),
                          Text("AboutLicence").toHtmlEscaped()));
}

QString AboutBox::Text(const char* key) const {
  return QString::fromStdString(CaptionText(language_, kMainFormSection, key));
}

void AboutBox::ShowModal(const UserFiles& files) {
  if (isVisible()) return;
  files_->setText(QString("%1 %2\n%3 %4\n%5 %6")
                      .arg(Text("AboutHostList"), QString::fromStdString(files.dataFolder),
                           Text("AboutEventLog"), QString::fromStdString(files.logFolder),
                           Text("AboutSettings"), QString::fromStdString(files.settingsFile)));
  exec();
}

}  // namespace sentrel
