// The About box (template 100): the icon, the version line and OK.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
