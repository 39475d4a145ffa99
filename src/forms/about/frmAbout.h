#pragma once

// The about folder: the About dialog. It includes forms/common/ only.

#include <QDialog>

class QLabel;
class QPushButton;

// The About dialog: title, version, release date and a notice. Modal over
// the main window; OK, Enter, Esc and the close box end it.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);

    // "Version " and the build's major.minor.patch.
    static QString versionText();

    QLabel* lblTitle = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QPushButton* cmdOK = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Form_Load();
    void cmdOK_Click() { accept(); }
};
