#include "selection_form.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "qt_radio_group.h"

QString KorvexSerialText(int32_t Serial) {
    return QStringLiteral("S/N ") +
           QString::number(static_cast<uint32_t>(Serial), 16).toUpper().rightJustified(6, u'0');
}

namespace {
// The dialog keeps the KORVEX identity byte on the value it hands back.
constexpr uint32_t KorvexSerialTag = 0xA6000000u;
} // namespace

TJTAGKorvexSelectionForm::TJTAGKorvexSelectionForm(QWidget* Owner, TListSerials ListSerials)
    : QDialog(Owner), FListSerials(std::move(ListSerials)) {
    setObjectName(QStringLiteral("selectionForm"));
    setWindowTitle(QStringLiteral("Select KORVEX"));

    serialGroup = new TRadioGroup(QStringLiteral("KORVEX Serial Number"), this);
    serialGroup->setObjectName(QStringLiteral("serialGroup"));
    serialGroup->setMinimumHeight(114);

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAutoDefault(false);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    for (QPushButton* B : {okButton, cancelButton})
        B->setFixedWidth(75);

    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch(3);
    Buttons->addWidget(okButton);
    Buttons->addStretch(2);
    Buttons->addWidget(cancelButton);
    Buttons->addStretch(3);
    auto* Column = new QVBoxLayout(this);
    Column->setContentsMargins(8, 8, 8, 8);
    Column->addWidget(serialGroup, 1);
    Column->addLayout(Buttons);
    // More programmers than the usual height holds: the dialog grows rather than clip items.
    Column->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumWidth(231);
    serialGroup->setMinimumWidth(215);

    refreshTimer = new QTimer(this);
    refreshTimer->setObjectName(QStringLiteral("refreshTimer"));
    refreshTimer->setInterval(1000);
    connect(refreshTimer, &QTimer::timeout, this, &TJTAGKorvexSelectionForm::RefreshList);
    refreshTimer->start();

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
    if (Texts.join(u'\n') == serialGroup->Items().join(u'\n'))
        return;

    const int Selected = serialGroup->ItemIndex();
    serialGroup->SetItems(Texts, Values);
    if (Selected >= 0)
        serialGroup->SetItemIndex(Selected); // beyond the new end: the last item
}

int32_t TJTAGKorvexSelectionForm::SelectedSerial() const {
    const int I = serialGroup->ItemIndex();
    return I < 0 ? -1 : serialGroup->ItemValue(I).toInt();
}
