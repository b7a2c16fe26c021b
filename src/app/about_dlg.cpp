#include "app/about_dlg.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

namespace velorna {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("about"));
  setWindowTitle(QCoreApplication::translate("velorna::CAboutDlg", "Velorna のバージョン情報"));

  auto* icon = new QLabel(this);
  icon->setPixmap(QIcon(QStringLiteral(":/velorna/velorna.png")).pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop);

  auto* text =
      new QLabel(QCoreApplication::translate(
                     "velorna::CAboutDlg",
                     "Velorna Version %1\n\n純正律などの音律で MIDI ファイルを WAV に変換します。")
                     .arg(QStringLiteral(VELORNA_VERSION)),
                 this);
  text->setObjectName(QStringLiteral("version"));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addSpacing(12);
  row->addWidget(text, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace velorna
