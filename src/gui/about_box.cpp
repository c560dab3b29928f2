#include "gui/about_box.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "gui/artwork.h"

namespace sentrel {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName("AboutBox");
  setWindowTitle("About Sentrel");
  auto* picture = new QLabel(this);
  picture->setPixmap(ProgramIcon().pixmap(48, 48));
  auto* text = new QLabel(this);
  text->setObjectName("AboutText");
  text->setTextFormat(Qt::RichText);
  text->setText(QString("<b>Sentrel</b> %1<br><br>"
                        "Watches the hosts of your network with ICMP echo requests<br>"
                        "and raises an alarm when one stops answering or answers again.")
                    .arg(SENTREL_VERSION));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->setObjectName("OkBtn");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* row = new QHBoxLayout;
  row->addWidget(picture, 0, Qt::AlignTop);
  row->addWidget(text, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
}

void AboutBox::ShowModal() {
  if (isVisible()) return;
  exec();
}

}  // namespace sentrel
