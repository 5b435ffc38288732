#pragma once

#include <QDialog>

#include "run_options.h"

class QKeyEvent;
class QLineEdit;
class QPushButton;
class QTextBrowser;

// "SVF & XSVF Player Options": a radio group per choice, the RUNTEST margin edit and an
// explanation panel. Each option's control is named after the option's settings key, so the
// dialog fills and reads them by walking the option table; options without a control here pass
// through unchanged.
class TOptionsForm : public QDialog {
    Q_OBJECT
public:
    explicit TOptionsForm(QWidget* Owner = nullptr);

    // Fills the controls; an index beyond a group's last item selects the last item.
    void SetValues(const TRunOptions& Options);
    // The selected indexes and the margin; a margin text that is not a whole number gives the
    // option's default.
    TRunOptions Values() const;

    // The margin edit's key filter: true when the key may reach the edit (digits, backspace,
    // the dialog keys Enter, Escape and Tab, the edit's Ctrl shortcuts, and keys that type
    // nothing, such as the arrows).
    static bool MarginKeyPress(const QKeyEvent& Key);

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    QPushButton* okButton;
    QPushButton* cancelButton;
    QLineEdit* marginEdit;
    QTextBrowser* explanationView;
    TRunOptions FValues;
};

// Shows the dialog filled from Options and copies the values back into Options when the user
// pressed OK. Returns whether OK was pressed.
bool EditOptions(QWidget* Owner, TRunOptions& Options);
