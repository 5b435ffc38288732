#include "qt_console_view.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "console_text.h"

namespace {
constexpr int TextMargin = 2;
constexpr int TabWidth = 8;
} // namespace

QColor SeverityColour(uint8_t Severity) {
    switch (Severity) {
    case sevComment:
        return QColor(0x80, 0x80, 0x80);
    case sevError:
        return QColor(0xFF, 0x00, 0x00);
    case sevWarning:
        return QColor(0x60, 0x40, 0x00);
    default:
        return QColor(0x00, 0x00, 0x00);
    }
}

TConsoleView::TConsoleView(QWidget* Parent) : QAbstractScrollArea(Parent) {
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
    QPalette P = viewport()->palette();
    P.setColor(QPalette::Base, Qt::white);
    P.setColor(QPalette::Window, Qt::white);
    viewport()->setPalette(P);
    UpdateScrollBars();
}

void TConsoleView::Clear() {
    // A large run leaves a large buffer: give the memory back rather than keep it for the next.
    std::string().swap(FChars);
    std::vector<TLine>().swap(FLines);
    FLongest = 0;
    FAnchor = FCursor = -1;
    UpdateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

void TConsoleView::AppendLines(const std::vector<TConsoleLine>& Lines) {
    if (Lines.empty())
        return;
    const bool Follow = AtEnd();
    FLines.reserve(FLines.size() + Lines.size());
    for (const TConsoleLine& L : Lines) {
        TLine Ref{FChars.size(), 0, L.Severity};
        // Tabs become spaces up to the next tab stop: the rows are drawn as plain runs of text.
        size_t Column = 0;
        for (const char C : L.Text) {
            if (C == '\t') {
                const size_t Spaces = TabWidth - Column % TabWidth;
                FChars.append(Spaces, ' ');
                Column += Spaces;
            } else if (C != '\r') {
                FChars.push_back(C);
                ++Column;
            }
        }
        Ref.Length = static_cast<uint32_t>(FChars.size() - Ref.Begin);
        FLongest = std::max(FLongest, Column);
        FLines.push_back(Ref);
    }
    UpdateScrollBars();
    if (Follow)
        ScrollToEnd();
    viewport()->update();
}

QString TConsoleView::LineText(int Index) const {
    if (Index < 0 || Index >= LineCount())
        return {};
    const TLine& L = FLines[static_cast<size_t>(Index)];
    // Comments may carry Windows-1252 bytes: shown as such, not as replacement characters.
    return QString::fromStdString(ConsoleUtf8(std::string_view(FChars).substr(L.Begin, L.Length)));
}

QColor TConsoleView::LineColor(int Index) const {
    if (Index < 0 || Index >= LineCount())
        return {};
    return SeverityColour(FLines[static_cast<size_t>(Index)].Severity);
}

QString TConsoleView::Text() const {
    QStringList All;
    All.reserve(LineCount());
    for (int I = 0; I < LineCount(); ++I)
        All << LineText(I);
    return All.join(u'\n');
}

std::pair<int, int> TConsoleView::Selection() const {
    if (FAnchor < 0 || FCursor < 0 || FLines.empty())
        return {-1, -1};
    const int Last = LineCount() - 1;
    return {std::min(std::min(FAnchor, FCursor), Last), std::min(std::max(FAnchor, FCursor), Last)};
}

void TConsoleView::SelectLines(int First, int Last) {
    FAnchor = First;
    FCursor = Last;
    viewport()->update();
}

void TConsoleView::SelectAll() {
    SelectLines(0, LineCount() - 1);
}

QString TConsoleView::SelectedText() const {
    const auto [First, Last] = Selection();
    if (First < 0)
        return {};
    QStringList Lines;
    for (int I = First; I <= Last; ++I)
        Lines << LineText(I);
    return Lines.join(u'\n');
}

void TConsoleView::Copy() const {
    const QString T = SelectedText();
    if (!T.isEmpty())
        QApplication::clipboard()->setText(T);
}

bool TConsoleView::AtEnd() const {
    return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

void TConsoleView::ScrollToEnd() {
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

int TConsoleView::FirstVisibleLine() const {
    return verticalScrollBar()->value();
}

int TConsoleView::RowHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int TConsoleView::CharWidth() const {
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('M')));
}

int TConsoleView::VisibleRows() const {
    return std::max(1, viewport()->height() / RowHeight());
}

int TConsoleView::LineAt(int Y) const {
    const int Row = Y < 0 ? -1 : Y / RowHeight();
    return std::clamp(FirstVisibleLine() + Row, 0, std::max(0, LineCount() - 1));
}

void TConsoleView::UpdateScrollBars() {
    // The vertical bar counts lines, so a console of millions of lines stays within its range.
    QScrollBar* V = verticalScrollBar();
    V->setRange(0, std::max(0, LineCount() - VisibleRows()));
    V->setPageStep(VisibleRows());
    V->setSingleStep(1);
    QScrollBar* H = horizontalScrollBar();
    const int64_t Width = static_cast<int64_t>(FLongest) * CharWidth() + 2 * TextMargin;
    H->setRange(0, static_cast<int>(std::clamp<int64_t>(Width - viewport()->width(), 0, 1 << 30)));
    H->setPageStep(viewport()->width());
    H->setSingleStep(CharWidth());
}

void TConsoleView::paintEvent(QPaintEvent*) {
    QPainter P(viewport());
    P.setFont(font());
    const int Height = RowHeight();
    const int Ascent = fontMetrics().ascent();
    const int X = TextMargin - horizontalScrollBar()->value();
    const auto [SelFirst, SelLast] = Selection();
    const int First = FirstVisibleLine();
    const int Last = std::min(LineCount() - 1, First + VisibleRows());
    for (int I = First; I <= Last; ++I) {
        const int Y = (I - First) * Height;
        if (I >= SelFirst && I <= SelLast && SelFirst >= 0)
            P.fillRect(0, Y, viewport()->width(), Height, palette().color(QPalette::Highlight));
        const bool Selected = SelFirst >= 0 && I >= SelFirst && I <= SelLast;
        P.setPen(Selected ? palette().color(QPalette::HighlightedText) : LineColor(I));
        P.drawText(X, Y + Ascent, LineText(I));
    }
}

void TConsoleView::resizeEvent(QResizeEvent* Event) {
    const bool Follow = AtEnd();
    QAbstractScrollArea::resizeEvent(Event);
    UpdateScrollBars();
    if (Follow)
        ScrollToEnd();
}

void TConsoleView::changeEvent(QEvent* Event) {
    QAbstractScrollArea::changeEvent(Event);
    if (Event->type() == QEvent::FontChange)
        UpdateScrollBars();
}

void TConsoleView::scrollContentsBy(int, int) {
    viewport()->update();
}

void TConsoleView::keyPressEvent(QKeyEvent* Event) {
    QScrollBar* V = verticalScrollBar();
    QScrollBar* H = horizontalScrollBar();
    if (Event->matches(QKeySequence::Copy)) {
        Copy();
    } else if (Event->matches(QKeySequence::SelectAll)) {
        SelectAll();
    } else if (Event->matches(QKeySequence::MoveToStartOfDocument)) {
        V->setValue(0);
    } else if (Event->matches(QKeySequence::MoveToEndOfDocument)) {
        ScrollToEnd();
    } else {
        switch (Event->key()) {
        case Qt::Key_Up:
            V->triggerAction(QAbstractSlider::SliderSingleStepSub);
            break;
        case Qt::Key_Down:
            V->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            break;
        case Qt::Key_PageUp:
            V->triggerAction(QAbstractSlider::SliderPageStepSub);
            break;
        case Qt::Key_PageDown:
            V->triggerAction(QAbstractSlider::SliderPageStepAdd);
            break;
        case Qt::Key_Left:
            H->triggerAction(QAbstractSlider::SliderSingleStepSub);
            break;
        case Qt::Key_Right:
            H->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            break;
        case Qt::Key_Home:
            H->setValue(0);
            break;
        case Qt::Key_End:
            H->setValue(H->maximum());
            break;
        default:
            // Everything else belongs to the window (the menu letters among them).
            Event->ignore();
            return;
        }
    }
    Event->accept();
}

void TConsoleView::mousePressEvent(QMouseEvent* Event) {
    if (Event->button() != Qt::LeftButton || FLines.empty()) {
        QAbstractScrollArea::mousePressEvent(Event);
        return;
    }
    const int Line = LineAt(Event->position().toPoint().y());
    if (!(Event->modifiers() & Qt::ShiftModifier) || FAnchor < 0)
        FAnchor = Line;
    FCursor = Line;
    viewport()->update();
}

void TConsoleView::mouseMoveEvent(QMouseEvent* Event) {
    if (!(Event->buttons() & Qt::LeftButton) || FAnchor < 0)
        return;
    const int Y = Event->position().toPoint().y();
    // Dragging past the top or bottom edge scrolls on, one line per move.
    if (Y < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (Y >= viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    FCursor = LineAt(std::clamp(Y, 0, viewport()->height() - 1));
    viewport()->update();
}

void TConsoleView::contextMenuEvent(QContextMenuEvent* Event) {
    QMenu Menu(this);
    QAction* CopyItem = Menu.addAction(QStringLiteral("&Copy"), this, &TConsoleView::Copy);
    CopyItem->setEnabled(Selection().first >= 0);
    Menu.addAction(QStringLiteral("Select &All"), this, &TConsoleView::SelectAll)
        ->setEnabled(!FLines.empty());
    Menu.exec(Event->globalPos());
}
