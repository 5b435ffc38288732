#include "qt_radio_group.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>

TRadioGroup::TRadioGroup(const QString& Caption, QWidget* Parent)
    : QGroupBox(Caption, Parent), FGroup(new QButtonGroup(this)), FLayout(new QGridLayout(this)) {
    FGroup->setExclusive(true);
    FLayout->setContentsMargins(8, 2, 8, 2);
    FLayout->setVerticalSpacing(0);
}

void TRadioGroup::SetItems(const QStringList& Texts, const QList<QVariant>& Values) {
    FItems = Texts;
    FValues = Values;
    Rebuild();
}

void TRadioGroup::SetColumns(int Columns) {
    FColumns = Columns < 1 ? 1 : Columns;
    Rebuild();
}

void TRadioGroup::Rebuild() {
    for (QAbstractButton* B : FGroup->buttons()) {
        FGroup->removeButton(B);
        delete B;
    }
    const int Rows = (Count() + FColumns - 1) / FColumns;
    for (int I = 0; I < Count(); ++I) {
        auto* B = new QRadioButton(FItems[I], this);
        FGroup->addButton(B, I);
        FLayout->addWidget(B, Rows ? I % Rows : 0, Rows ? I / Rows : 0);
    }
}

int TRadioGroup::ItemIndex() const {
    return FGroup->checkedId();
}

void TRadioGroup::SetItemIndex(int Index) {
    if (Index >= Count())
        Index = Count() - 1;
    if (Index < 0) {
        // An exclusive group cannot uncheck its last checked button.
        FGroup->setExclusive(false);
        for (QAbstractButton* B : FGroup->buttons())
            B->setChecked(false);
        FGroup->setExclusive(true);
        return;
    }
    FGroup->button(Index)->setChecked(true);
}

QRadioButton* TRadioGroup::Button(int Index) const {
    return qobject_cast<QRadioButton*>(FGroup->button(Index));
}
