#include "CAboutDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "shell/ProductVersion.h"
#include "shell/StatusIcons.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Version Window"));
  auto* layout = new QGridLayout(this);
  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon(32));
  layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  auto* first = new QLabel(QStringLiteral("VantrelTool Version ") + GetProductVersion(), this);
  first->setObjectName(QStringLiteral("versionText"));
  layout->addWidget(first, 0, 1);
  layout->addWidget(
      new QLabel(QStringLiteral("Touch panel controller engineering tool. All rights reserved."),
                 this),
      1, 1);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("id1"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok, 0, 2);
}
