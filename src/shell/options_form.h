#pragma once

#include <cstdint>

#include <QDialog>

class QFrame;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QTextBrowser;
class TRadioGroup;

// The option fields the dialog edits, as the programmer link holds them.
struct TOptionValues {
    uint8_t DefFreq = 0;
    uint8_t RTwTime = 1;
    uint8_t RTwCount = 2;
    uint8_t PActive = 2;
    uint8_t PInactive = 3;
    int32_t SecurityTime = 100;
    bool operator==(const TOptionValues&) const = default;
};

// "SVF & XSVF Player Options": five radio groups, the RUNTEST margin edit and an explanation
// panel. The dialog only edits values; the caller copies them back on OK.
class TOptionsForm : public QDialog {
    Q_OBJECT
public:
    explicit TOptionsForm(QWidget* Owner = nullptr);

    // Fills the controls; an index beyond a group's last item selects the last item.
    void SetValues(const TOptionValues& V);
    // The selected indexes and the margin; a margin text that is not a whole number gives 100.
    TOptionValues Values() const;

    // The SecurTime key filter: true when the key may reach the edit (digits, backspace, the
    // dialog keys Enter, Escape and Tab, and keys that type nothing, such as the arrows).
    static bool SecurTimeKeyPress(const QKeyEvent& Key);

    QFrame* Panel1;
    QFrame* Panel2;
    TRadioGroup* DefFreq;
    TRadioGroup* RTwTime;
    QGroupBox* GroupBox1;
    QLineEdit* SecurTime;
    QLabel* Label1;
    TRadioGroup* RTwCount;
    TRadioGroup* PActive;
    TRadioGroup* PInactive;
    QTextBrowser* RichEdit1;
    QPushButton* Button1;
    QPushButton* Button2;

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void FormCreate();
};

// Options2Click's dialog part: shows the dialog filled from V and copies the values back into V
// when the user pressed OK. Returns whether OK was pressed.
bool EditOptions(QWidget* Owner, TOptionValues& V);
