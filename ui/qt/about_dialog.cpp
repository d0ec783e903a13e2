#include "ui/qt/about_dialog.h"

#include <QPushButton>

#include "ui/qt/app_icon.h"
#include "ui/qt/dialog_builder.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    // A modal frame: a caption and a close box, no sizing border.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(uiqt::MainIcon());
    uiqt::BuiltDialog built = uiqt::BuildDialog(ui::AboutBoxTemplate(), *this);
    setFixedSize(size());
    auto* ok = static_cast<QPushButton*>(built.byId.at(1).widget);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
