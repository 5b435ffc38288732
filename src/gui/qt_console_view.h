#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <QAbstractScrollArea>
#include <QColor>
#include <QString>

#include "message_queue.h"

// The colour the window draws a line of this severity in: black for information, grey for
// comments, red for errors, dark brown for warnings; any other severity draws black.
QColor SeverityColour(uint8_t Severity);

// The run console: read-only lines, each in its severity's colour, no wrapping. A run can report
// hundreds of thousands of lines, so the lines are kept in one packed buffer and only the rows in
// view are drawn: appending a tick's batch costs a copy of its text, whatever the console already
// holds. Whole lines can be selected with the mouse (Shift extends) and copied with Ctrl+C or the
// context menu.
class TConsoleView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TConsoleView(QWidget* Parent = nullptr);

    void Clear();
    // Appends the batch; the view follows the end unless the user has scrolled away from it.
    void AppendLines(const std::vector<TConsoleLine>& Lines);

    int LineCount() const { return static_cast<int>(FLines.size()); }
    QString LineText(int Index) const;
    QColor LineColor(int Index) const;
    // Every line, joined by line feeds.
    QString Text() const;

    // The selected lines (first, last), or (-1, -1).
    std::pair<int, int> Selection() const;
    void SelectLines(int First, int Last);
    void SelectAll();
    QString SelectedText() const;
    void Copy() const;

    bool AtEnd() const;
    void ScrollToEnd();
    int FirstVisibleLine() const;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;
    void scrollContentsBy(int Dx, int Dy) override;

private:
    struct TLine {
        uint64_t Begin;
        uint32_t Length;
        uint8_t Severity;
    };

    int RowHeight() const;
    int CharWidth() const;
    int VisibleRows() const;
    int LineAt(int Y) const;
    void UpdateScrollBars();

    std::string FChars;
    std::vector<TLine> FLines;
    size_t FLongest = 0; // characters of the longest line, for the horizontal range
    int FAnchor = -1;    // selection: the line where it started and the line it reaches
    int FCursor = -1;
};
