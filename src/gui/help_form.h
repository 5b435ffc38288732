#pragma once

#include <QWidget>

class QTextBrowser;

// "SVF & XSVF Player Help & Programming Tips": a read-only rich text filling a window that opens
// maximised. Escape or the close box only hide it; the main window shows it again.
class THelpForm : public QWidget {
    Q_OBJECT
public:
    explicit THelpForm(QWidget* Parent = nullptr);

    // Shows the window maximised and brings it to the front, without making it modal.
    void ShowHelp();

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    // True when the key was Escape and the window was hidden.
    bool HideOnEscape(const QKeyEvent& Key);

    QTextBrowser* helpView;
};
