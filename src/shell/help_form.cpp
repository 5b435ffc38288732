#include "help_form.h"

#include <QFile>
#include <QKeyEvent>
#include <QTextBrowser>
#include <QVBoxLayout>

THelpForm::THelpForm(QWidget* Parent) : QWidget(Parent, Qt::Window) {
    setObjectName(QStringLiteral("HelpForm"));
    setWindowTitle(QStringLiteral("SVF & XSVF Player Help & Programming Tips"));
    resize(383, 213);

    Text = new QTextBrowser(this);
    Text->setObjectName(QStringLiteral("Text"));
    Text->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text->setOpenLinks(false);
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->addWidget(Text);

    // The window sees key presses before the text does, so Escape works wherever the focus is.
    Text->installEventFilter(this);
    FormCreate();
}

void THelpForm::FormCreate() {
    QFile Html(QStringLiteral(":/korvex/help.html"));
    if (Html.open(QIODevice::ReadOnly))
        Text->setHtml(QString::fromUtf8(Html.readAll()));
}

void THelpForm::ShowHelp() {
    showMaximized();
    raise();
    activateWindow();
}

bool THelpForm::FormKeyPress(const QKeyEvent& Key) {
    if (Key.key() != Qt::Key_Escape)
        return false;
    hide();
    return true;
}

bool THelpForm::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == Text && Event->type() == QEvent::KeyPress &&
        FormKeyPress(static_cast<const QKeyEvent&>(*Event)))
        return true;
    return QWidget::eventFilter(Watched, Event);
}

void THelpForm::keyPressEvent(QKeyEvent* Event) {
    if (!FormKeyPress(*Event))
        QWidget::keyPressEvent(Event);
}
