#include "options_form.h"

#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTextBrowser>

#include "qt_dialog_seam.h"
#include "qt_radio_group.h"

namespace {
TRadioGroup* MakeGroup(QWidget* Parent, const char* Name, const QString& Caption,
                       const QStringList& Items, QRect Geometry) {
    auto* G = new TRadioGroup(Caption, Parent);
    G->setObjectName(QString::fromLatin1(Name));
    G->SetItems(Items);
    G->setGeometry(Geometry);
    return G;
}

const QStringList PinLevels = {QStringLiteral("Low (log 0)"), QStringLiteral("High (log 1)"),
                               QStringLiteral("Tristate")};
} // namespace

TOptionsForm::TOptionsForm(QWidget* Owner) : QDialog(Owner) {
    setObjectName(QStringLiteral("OptionsForm"));
    setWindowTitle(QStringLiteral("SVF & XSVF Player Options"));
    setFixedSize(656, 600);
    // Small type throughout: the longest item, "interpret as RUNTEST min_time with scale current
    // frequency", has to fit the 399 pixel groups in the usual sans-serif fonts.
    QFont F = font();
    F.setPointSize(8);
    setFont(F);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, 656, 600);

    // The buttons are created first so that they come first in the tab order, as on the outer
    // panel of the dialog.
    Button1 = new QPushButton(QStringLiteral("OK"), Panel1);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(145, 566, 75, 25);
    Button1->setDefault(true);
    Button1->setAutoDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    Button2 = new QPushButton(QStringLiteral("Cancel"), Panel1);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(435, 566, 75, 25);
    Button2->setAutoDefault(false);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    Panel2 = new QFrame(Panel1);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel2->setGeometry(4, 4, 647, 555);

    DefFreq = MakeGroup(
        Panel2, "DefFreq", QStringLiteral("Default TCK signal frequency"),
        {QStringLiteral("max. 3MHz"), QStringLiteral("max. 1.5MHz"), QStringLiteral("max. 750kHz")},
        QRect(9, 10, 399, 87));
    RTwTime =
        MakeGroup(Panel2, "RTwTime", QStringLiteral("RUNTEST without run_count (SVF only)"),
                  {QStringLiteral("no clock on TCK"), QStringLiteral("slow clock on TCK (~100kHz)"),
                   QStringLiteral("default speed clock on TCK")},
                  QRect(8, 104, 399, 89));

    GroupBox1 =
        new QGroupBox(QStringLiteral("RUNTEST timing multiply (both SVF and XSVF)"), Panel2);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 194, 399, 49);
    SecurTime = new QLineEdit(QStringLiteral("0"), GroupBox1);
    SecurTime->setObjectName(QStringLiteral("SecurTime"));
    SecurTime->setGeometry(8, 18, 49, 21);
    // The key filter stops typed letters; the validator also keeps pasted text to digits, so a
    // negative margin can never shorten the waits a file asks for.
    SecurTime->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), SecurTime));
    SecurTime->installEventFilter(this);
    Label1 = new QLabel(QStringLiteral("% of additional time"), GroupBox1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(59, 21);
    Label1->adjustSize();

    RTwCount =
        MakeGroup(Panel2, "RTwCount",
                  QStringLiteral("RUNTEST with run_count and no timing (both SVF and XSVF)"),
                  {QStringLiteral("default speed clock on TCK"),
                   QStringLiteral("interpret as RUNTEST min_time with scale current frequency"),
                   QStringLiteral("interpret as RUNTEST min_time with scale 1MHz")},
                  QRect(8, 246, 399, 89));
    PActive = MakeGroup(Panel2, "PActive",
                        QStringLiteral("VPP KORVEX pin usage while running test (file)"),
                        PinLevels + QStringList{QStringLiteral("TRST (SVF only)"),
                                                QStringLiteral("SCK (SVF only)")},
                        QRect(8, 342, 399, 81));
    PActive->SetColumns(2);
    PInactive = MakeGroup(
        Panel2, "PInactive", QStringLiteral("VPP KORVEX pin usage after test completion"),
        PinLevels + QStringList{QStringLiteral("Keep previous state")}, QRect(8, 430, 399, 105));

    RichEdit1 = new QTextBrowser(Panel2);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setGeometry(417, 16, 217, 528);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    RichEdit1->setOpenLinks(false);

    // Tab order: the buttons, then the groups down the left column, the explanation, and last the
    // margin edit.
    QWidget* Chain[] = {Button1, Button2,   DefFreq,   RTwTime,  RTwCount,
                        PActive, PInactive, RichEdit1, SecurTime};
    for (size_t I = 0; I + 1 < std::size(Chain); ++I)
        setTabOrder(Chain[I], Chain[I + 1]);

    FormCreate();
}

void TOptionsForm::FormCreate() {
    QFile Text(QStringLiteral(":/korvex/options.html"));
    if (Text.open(QIODevice::ReadOnly))
        RichEdit1->setHtml(QString::fromUtf8(Text.readAll()));
}

void TOptionsForm::SetValues(const TOptionValues& V) {
    DefFreq->SetItemIndex(V.DefFreq);
    RTwTime->SetItemIndex(V.RTwTime);
    RTwCount->SetItemIndex(V.RTwCount);
    PActive->SetItemIndex(V.PActive);
    PInactive->SetItemIndex(V.PInactive);
    SecurTime->setText(QString::number(V.SecurityTime));
}

TOptionValues TOptionsForm::Values() const {
    // A group with nothing selected reports -1, stored as a byte like any other index.
    auto Index = [](const TRadioGroup* G) { return static_cast<uint8_t>(G->ItemIndex()); };
    TOptionValues V;
    V.DefFreq = Index(DefFreq);
    V.RTwTime = Index(RTwTime);
    V.RTwCount = Index(RTwCount);
    V.PActive = Index(PActive);
    V.PInactive = Index(PInactive);
    bool Ok = false;
    const int Margin = SecurTime->text().toInt(&Ok, 10);
    V.SecurityTime = Ok ? Margin : 100;
    return V;
}

bool TOptionsForm::SecurTimeKeyPress(const QKeyEvent& Key) {
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
    const QString T = Key.text();
    if (T.isEmpty())
        return true; // arrows, Home, Delete and the like type no character
    if (T.size() != 1)
        return false;
    const QChar C = T.front();
    return (C >= QLatin1Char('0') && C <= QLatin1Char('9')) || C == QChar(8);
}

bool TOptionsForm::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == SecurTime && Event->type() == QEvent::KeyPress &&
        !SecurTimeKeyPress(static_cast<const QKeyEvent&>(*Event)))
        return true;
    return QDialog::eventFilter(Watched, Event);
}

bool EditOptions(QWidget* Owner, TOptionValues& V) {
    TOptionsForm Form(Owner);
    Form.SetValues(V);
    if (KorvexDialogs::ExecDialog(Form) != QDialog::Accepted)
        return false;
    V = Form.Values();
    return true;
}
