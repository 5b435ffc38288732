#pragma once

#include <QGroupBox>
#include <QList>
#include <QStringList>
#include <QVariant>

class QButtonGroup;
class QGridLayout;
class QRadioButton;

// A framed group of radio buttons addressed by index, each item optionally carrying a value. The
// items fill the columns top to bottom, as many rows as the longest column needs. ItemIndex is -1
// when nothing is selected.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit TRadioGroup(const QString& Caption, QWidget* Parent = nullptr);

    void SetItems(const QStringList& Texts, const QList<QVariant>& Values = {});
    QStringList Items() const { return FItems; }
    QVariant ItemValue(int Index) const { return FValues.value(Index); }
    int Count() const { return static_cast<int>(FItems.size()); }

    void SetColumns(int Columns);

    int ItemIndex() const;
    // An index beyond the last item selects the last item; a negative one clears the selection.
    void SetItemIndex(int Index);

    QRadioButton* Button(int Index) const;

private:
    void Rebuild();

    QStringList FItems;
    QList<QVariant> FValues;
    int FColumns = 1;
    QButtonGroup* FGroup;
    QGridLayout* FLayout;
};
