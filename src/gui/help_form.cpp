#include "help_form.h"

#include <QFile>
#include <QKeyEvent>
#include <QTextBrowser>
#include <QVBoxLayout>

THelpForm::THelpForm(QWidget* Parent) : QWidget(Parent, Qt::Window) {
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(QStringLiteral("SVF & XSVF Player Help & Programming Tips"));
    resize(383, 213);

    helpView = new QTextBrowser(this);
    helpView->setObjectName(QStringLiteral("helpView"));
    helpView->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    helpView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    helpView->setOpenLinks(false);
    auto* Layout = new QVBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->addWidget(helpView);

    // The window sees key presses before the text does, so Escape works wherever the focus is.
    helpView->installEventFilter(this);
    QFile Html(QStringLiteral(":/korvex/help.html"));
    if (Html.open(QIODevice::ReadOnly))
        helpView->setHtml(QString::fromUtf8(Html.readAll()));
}

void THelpForm::ShowHelp() {
    showMaximized();
    raise();
    activateWindow();
}

bool THelpForm::HideOnEscape(const QKeyEvent& Key) {
    if (Key.key() != Qt::Key_Escape)
        return false;
    hide();
    return true;
}

bool THelpForm::eventFilter(QObject* Watched, QEvent* Event) {
    if (Watched == helpView && Event->type() == QEvent::KeyPress &&
        HideOnEscape(static_cast<const QKeyEvent&>(*Event)))
        return true;
    return QWidget::eventFilter(Watched, Event);
}

void THelpForm::keyPressEvent(QKeyEvent* Event) {
    if (!HideOnEscape(*Event))
        QWidget::keyPressEvent(Event);
}
