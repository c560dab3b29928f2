#include "gui/about_box.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "gui/artwork.h"

namespace sentrel {

namespace {

// The width of the about text, in average characters.
constexpr int kTextColumns = 56;

}  // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent), files_(new QLabel(this)) {
  setObjectName("AboutBox");
  setWindowTitle("About Sentrel");
  auto* picture = new QLabel(this);
  picture->setPixmap(ProgramIcon().pixmap(48, 48));
  auto* text = new QLabel(this);
  text->setObjectName("AboutText");
  text->setTextFormat(Qt::RichText);
  text->setText(QString("<b>Sentrel</b> %1<br><br>"
                        "Watches the hosts of your network with ICMP echo requests and raises an "
                        "alarm when one stops answering or answers again.<br><br>"
                        "Free software under the GNU General Public License, version 3 or "
                        "later; it comes with no warranty.")
                    .arg(SENTREL_VERSION));
  text->setWordWrap(true);
  files_->setObjectName("AboutFiles");
  files_->setTextFormat(Qt::PlainText);
  files_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  files_->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->setObjectName("OkBtn");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* column = new QVBoxLayout;
  column->addWidget(text);
  column->addWidget(files_);
  auto* row = new QHBoxLayout;
  row->addWidget(picture, 0, Qt::AlignTop);
  row->addLayout(column, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  // The wrapped texts decide the height from the width: a window of one
  // size, measured afresh for each opening, never cuts them.
  text->setMinimumWidth(text->fontMetrics().averageCharWidth() * kTextColumns);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AboutBox::ShowModal(const UserFiles& files) {
  if (isVisible()) return;
  files_->setText(QString("Host list: %1\nEvent log: %2\nSettings: %3")
                      .arg(QString::fromStdString(files.dataFolder),
                           QString::fromStdString(files.logFolder),
                           QString::fromStdString(files.settingsFile)));
  exec();
}

}  // namespace sentrel
