#pragma once

#include <QLabel>

// A label that opens a page: navy, bold, underlined, hand pointer. It is in the
// tab order, shows the focus, and Return, Enter or Space open it as a click does;
// an access key ("&") in its text moves the focus to it; screen readers see a link.
class TLinkLabel final : public QLabel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TLinkLabel)
public:
    explicit TLinkLabel(const QString& Text, QWidget* Parent = nullptr);

    // Acts as a click on the link.
    void Click();

Q_SIGNALS:
    void Clicked();

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;
};
