#pragma once

#include <QDialog>

class QLabel;
class TProgram;
class QPushButton;
class TLinkLabel;

// The info window: product title and description, version, the date of the
// catalogue's last check, the vendor link and the software update button.
class TfrmAbout final : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(TProgram& Program, QWidget* Parent = nullptr);
    Q_DISABLE_COPY_MOVE(TfrmAbout)

    void ApplyLanguage();
    // The address the vendor link opens: the vendor web server's home page.
    static QString HomePageURL();

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void showEvent(QShowEvent* Event) override;

private:
    void FormCreate();
    void UpdateLastCheck();
    void FitToTexts();
    void btnSoftwareUpdateClick();
    void labCopyrightClick();

    TProgram& FProgram;
    QLabel* imgTop;
    QLabel* labTitle;
    QLabel* labDescription;
    QLabel* labVersion;
    TLinkLabel* labCopyright;
    QLabel* lblLastCheck;
    QPushButton* btnSoftwareUpdate;
    QPushButton* btnClose;
};

// The info window when it exists (for ApplyLanguage), else nullptr.
TfrmAbout* ExistingAbout();

// Shows the info window.
void ShowInfo(TProgram& Program);
