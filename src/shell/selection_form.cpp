#include "selection_form.h"

#include <algorithm>

#include <QPushButton>
#include <QTimer>

#include "qt_radio_group.h"

QString KorvexSerialText(int32_t Serial) {
    return QStringLiteral("S/N ") +
           QString::number(static_cast<uint32_t>(Serial), 16).toUpper().rightJustified(6, u'0');
}

namespace {
// The dialog keeps the KORVEX identity byte on the value it hands back.
constexpr uint32_t KorvexSerialTag = 0xA6000000u;

constexpr int ClientWidth = 231;
constexpr int ClientHeight = 163;
constexpr int ButtonsHeight = 41;
constexpr int ItemHeight = 22;
} // namespace

TJTAGKorvexSelectionForm::TJTAGKorvexSelectionForm(QWidget* Owner, TListSerials ListSerials)
    : QDialog(Owner), FListSerials(std::move(ListSerials)) {
    setObjectName(QStringLiteral("JTAGKorvexSelectionForm"));
    setWindowTitle(QStringLiteral("Select KORVEX"));
    resize(ClientWidth, ClientHeight);

    RadioGroup = new TRadioGroup(QStringLiteral("KORVEX Serial Number"), this);
    RadioGroup->setObjectName(QStringLiteral("RadioGroup"));
    RadioGroup->setGeometry(8, 8, ClientWidth - 16, ClientHeight - ButtonsHeight - 8);

    ButtonOK = new QPushButton(QStringLiteral("OK"), this);
    ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
    ButtonOK->setDefault(true);
    connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);
    ButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
    ButtonCancel->setAutoDefault(false);
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(1000);
    connect(Timer, &QTimer::timeout, this, &TJTAGKorvexSelectionForm::TimerTimer);
    Timer->start();

    ArrangeControls();
    RefreshList();
}

void TJTAGKorvexSelectionForm::TimerTimer() {
    RefreshList();
}

void TJTAGKorvexSelectionForm::RefreshList() {
    const std::vector<int32_t> Serials = FListSerials ? FListSerials() : std::vector<int32_t>{};
    QStringList Texts;
    QList<QVariant> Values;
    for (int32_t S : Serials) {
        Texts << KorvexSerialText(S);
        Values << QVariant(static_cast<int32_t>(static_cast<uint32_t>(S) | KorvexSerialTag));
    }
    if (Texts.join(u'\n') == RadioGroup->Items().join(u'\n'))
        return;

    const int Selected = RadioGroup->ItemIndex();
    RadioGroup->SetItems(Texts, Values);
    if (Selected >= 0)
        RadioGroup->SetItemIndex(Selected); // beyond the new end: the last item
    ArrangeControls();
}

void TJTAGKorvexSelectionForm::ArrangeControls() {
    // More programmers than the designed height holds: the dialog grows rather than clip items.
    const int Needed = 28 + ItemHeight * RadioGroup->Count();
    const int GroupHeight = std::max(ClientHeight - ButtonsHeight - 8, Needed);
    RadioGroup->setGeometry(8, 8, ClientWidth - 16, GroupHeight);
    const int Height = GroupHeight + 8 + ButtonsHeight;
    setFixedSize(ClientWidth, Height);
    ButtonOK->setGeometry(32, Height - 33, 75, 25);
    ButtonCancel->setGeometry(124, Height - 33, 75, 25);
}

int32_t TJTAGKorvexSelectionForm::SelectedSerial() const {
    const int I = RadioGroup->ItemIndex();
    return I < 0 ? -1 : RadioGroup->ItemValue(I).toInt();
}
