#include "options_form.h"

#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "qt_dialog_seam.h"
#include "qt_radio_group.h"

namespace {
// Wide enough for the longest item, "interpret as RUNTEST min_time with scale current frequency",
// in the dialog's small type.
constexpr int GroupWidth = 399;
constexpr int ExplanationWidth = 217;
constexpr int ExplanationHeight = 528;
constexpr int ButtonWidth = 75;

TRadioGroup* MakeGroup(QWidget* Parent, const char* Key, const QString& Caption,
                       const QStringList& Items) {
    auto* Group = new TRadioGroup(Caption, Parent);
    Group->setObjectName(QString::fromLatin1(Key));
    Group->SetItems(Items);
    Group->setFixedWidth(GroupWidth);
    return Group;
}

const QStringList PinLevels = {QStringLiteral("Low (log 0)"), QStringLiteral("High (log 1)"),
                               QStringLiteral("Tristate")};
} // namespace

TOptionsForm::TOptionsForm(QWidget* Owner) : QDialog(Owner) {
    setObjectName(QStringLiteral("optionsForm"));
    setWindowTitle(QStringLiteral("SVF & XSVF Player Options"));
    // Small type throughout, so the long items fit the groups in the usual sans-serif fonts.
    QFont Small = font();
    Small.setPointSize(8);
    setFont(Small);

    auto* Panel = new QFrame(this);
    Panel->setObjectName(QStringLiteral("optionsPanel"));
    Panel->setFrameStyle(QFrame::Panel | QFrame::Raised);

    auto* FrequencyGroup =
        MakeGroup(Panel, "DefFreq", QStringLiteral("Default TCK signal frequency"),
                  {QStringLiteral("max. 3MHz"), QStringLiteral("max. 1.5MHz"),
                   QStringLiteral("max. 750kHz")});
    auto* WaitGroup =
        MakeGroup(Panel, "RTwTime", QStringLiteral("RUNTEST without run_count (SVF only)"),
                  {QStringLiteral("no clock on TCK"), QStringLiteral("slow clock on TCK (~100kHz)"),
                   QStringLiteral("default speed clock on TCK")});

    auto* MarginGroup =
        new QGroupBox(QStringLiteral("RUNTEST timing multiply (both SVF and XSVF)"), Panel);
    MarginGroup->setObjectName(QStringLiteral("marginGroup"));
    MarginGroup->setFixedWidth(GroupWidth);
    marginEdit = new QLineEdit(QStringLiteral("0"), MarginGroup);
    marginEdit->setObjectName(QStringLiteral("SecurityTime"));
    marginEdit->setFixedWidth(49);
    // The key filter stops typed letters; the validator also keeps pasted text to digits, so a
    // negative margin can never shorten the waits a file asks for.
    marginEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), marginEdit));
    marginEdit->installEventFilter(this);
    auto* MarginLabel = new QLabel(QStringLiteral("% of additional time"), MarginGroup);
    MarginLabel->setObjectName(QStringLiteral("marginLabel"));
    auto* MarginRow = new QHBoxLayout(MarginGroup);
    MarginRow->setContentsMargins(8, 2, 8, 4);
    MarginRow->setSpacing(2);
    MarginRow->addWidget(marginEdit);
    MarginRow->addWidget(MarginLabel, 1);

    auto* CountGroup =
        MakeGroup(Panel, "RTwCount",
                  QStringLiteral("RUNTEST with run_count and no timing (both SVF and XSVF)"),
                  {QStringLiteral("default speed clock on TCK"),
                   QStringLiteral("interpret as RUNTEST min_time with scale current frequency"),
                   QStringLiteral("interpret as RUNTEST min_time with scale 1MHz")});
    auto* ActivePinGroup = MakeGroup(
        Panel, "PActive", QStringLiteral("VPP KORVEX pin usage while running test (file)"),
        PinLevels +
            QStringList{QStringLiteral("TRST (SVF only)"), QStringLiteral("SCK (SVF only)")});
    ActivePinGroup->SetColumns(2);
    auto* InactivePinGroup =
        MakeGroup(Panel, "PInactive", QStringLiteral("VPP KORVEX pin usage after test completion"),
                  PinLevels + QStringList{QStringLiteral("Keep previous state")});

    // The library is chosen when the program starts.
    auto* DriverGroup = MakeGroup(
        Panel, "Driver", QStringLiteral("USB driver (used from the next start)"),
        {QStringLiteral("auto"), QStringLiteral("D2XX (FTDI)"), QStringLiteral("libftdi1")});
    DriverGroup->SetColumns(3);

    explanationView = new QTextBrowser(Panel);
    explanationView->setObjectName(QStringLiteral("explanationView"));
    explanationView->setFixedWidth(ExplanationWidth);
    explanationView->setMinimumHeight(ExplanationHeight);
    explanationView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    explanationView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    explanationView->setOpenLinks(false);
    QFile Text(QStringLiteral(":/korvex/options.html"));
    if (Text.open(QIODevice::ReadOnly))
        explanationView->setHtml(QString::fromUtf8(Text.readAll()));

    // The groups share out the explanation's height evenly.
    auto* Choices = new QVBoxLayout;
    Choices->setSpacing(0);
    for (QGroupBox* Group :
         std::initializer_list<QGroupBox*>{FrequencyGroup, WaitGroup, MarginGroup, CountGroup,
                                           ActivePinGroup, InactivePinGroup, DriverGroup}) {
        if (Group != FrequencyGroup)
            Choices->addStretch(1);
        Choices->addWidget(Group);
    }
    auto* PanelColumns = new QHBoxLayout(Panel);
    PanelColumns->setContentsMargins(8, 8, 12, 8);
    PanelColumns->setSpacing(10);
    PanelColumns->addLayout(Choices);
    PanelColumns->addWidget(explanationView);

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAutoDefault(false);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // OK under the choices, Cancel under the explanation's side.
    auto* Buttons = new QHBoxLayout;
    Buttons->addStretch(2);
    Buttons->addWidget(okButton);
    Buttons->addStretch(3);
    Buttons->addWidget(cancelButton);
    Buttons->addStretch(2);
    for (QPushButton* B : {okButton, cancelButton})
        B->setFixedWidth(ButtonWidth);

    auto* Outer = new QVBoxLayout(this);
    Outer->setContentsMargins(4, 4, 4, 8);
    Outer->addWidget(Panel);
    Outer->addLayout(Buttons);
    Outer->setSizeConstraint(QLayout::SetFixedSize);

    // Tab order: the buttons, then the groups down the left column, the explanation, and last the
    // margin edit.
    QWidget* Chain[] = {okButton,        cancelButton,   FrequencyGroup,   WaitGroup,
                        CountGroup,      ActivePinGroup, InactivePinGroup, DriverGroup,
                        explanationView, marginEdit};
    for (size_t I = 0; I + 1 < std::size(Chain); ++I)
        setTabOrder(Chain[I], Chain[I + 1]);
}

void TOptionsForm::SetValues(const TRunOptions& Options) {
    FValues = Options;
    for (const TRunOptionInfo& Option : RunOptions()) {
        const QString Key = QString::fromLatin1(Option.Key);
        if (auto* Group = findChild<TRadioGroup*>(Key))
            Group->SetItemIndex(Option.Get(Options));
        else if (auto* Edit = findChild<QLineEdit*>(Key))
            Edit->setText(QString::number(Option.Get(Options)));
    }
}

TRunOptions TOptionsForm::Values() const {
    TRunOptions Options = FValues;
    for (const TRunOptionInfo& Option : RunOptions()) {
        const QString Key = QString::fromLatin1(Option.Key);
        // A group with nothing selected reports -1, stored like any other index.
        if (const auto* Group = findChild<TRadioGroup*>(Key)) {
            Option.Set(Options, Group->ItemIndex());
        } else if (const auto* Edit = findChild<QLineEdit*>(Key)) {
            bool Ok = false;
            const int Value = Edit->text().toInt(&Ok, 10);
            Option.Set(Options, Ok ? Value : Option.Default());
        }
    }
    return Options;
}

bool TOptionsForm::MarginKeyPress(const QKeyEvent& Key) {
    // The dialog keys act on the buttons and the focus before any character is typed.
    switch (Key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return true;
    default:
        break;
    }
    // The edit's own shortcuts (select all, copy, cut, paste, undo) type nothing; the validator
    // keeps what is pasted to digits.
    if (Key.modifiers() & Qt::ControlModifier)
        return true;
    const QString T = Key.text();
    if (T.isEmpty())
        return true; // arrows, Home, Delete and the like type no character
    if (T.size() != 1)
        return false;
    const QChar C = T.front();
    return (C >= QLatin1Char('0') && C <= QLatin1Char('9')) || C == QChar(8);
}

bool TOptionsForm::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == marginEdit && Event->type() == QEvent::KeyPress &&
        !MarginKeyPress(static_cast<const QKeyEvent&>(*Event)))
        return true;
    return QDialog::eventFilter(Watched, Event);
}

bool EditOptions(QWidget* Owner, TRunOptions& Options) {
    TOptionsForm Form(Owner);
    Form.SetValues(Options);
    if (KorvexDialogs::ExecDialog(Form) != QDialog::Accepted)
        return false;
    Options = Form.Values();
    return true;
}
