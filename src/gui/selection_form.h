#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QDialog>
#include <QString>

class QPushButton;
class QTimer;
class TRadioGroup;

// "S/N " and the serial value in upper-case hexadecimal, at least six digits; the value is read as
// an unsigned 32-bit number, so -1 shows as FFFFFFFF.
QString KorvexSerialText(int32_t Serial);

// "Select KORVEX": one radio item per attached programmer, refreshed every second so that the list
// follows programmers being plugged in and out.
class TJTAGKorvexSelectionForm : public QDialog {
    Q_OBJECT
public:
    // ListSerials searches the attached KORVEX programmers (the link's ListKorvexSerials).
    using TListSerials = std::function<std::vector<int32_t>()>;
    TJTAGKorvexSelectionForm(QWidget* Owner, TListSerials ListSerials);

    // Searches and rebuilds the items when the list changed. An unchanged list leaves the
    // selection alone; after a change the selection keeps its index if that item still exists and
    // otherwise moves to the last item.
    void RefreshList();

    // The chosen programmer as the dialog stores it (serial value OR 0xA6000000), -1 when no item
    // is selected.
    int32_t SelectedSerial() const;

private:
    TRadioGroup* serialGroup;
    QPushButton* okButton;
    QPushButton* cancelButton;
    QTimer* refreshTimer;
    TListSerials FListSerials;
};
