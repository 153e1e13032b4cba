#pragma once
// The building blocks of the settings panes: a grouped form (titled sections of rounded boxes
// whose rows are divided by hairlines), a switch, a plain button that wraps a row of content and
// a text label in one call.

#include <QAbstractButton>
#include <QLabel>
#include <QScrollArea>

class QScrollBar;
#include <QVBoxLayout>

namespace vocalynx {

class FormSection;

// A vertically scrolling form of sections, in the grouped style. When the sections do not fit, a
// thin scroll bar without arrow buttons appears at the right edge.
class GroupedForm : public QScrollArea {
    Q_OBJECT
public:
    explicit GroupedForm(QWidget* parent = nullptr);
    // A new section at the end; an empty header draws none.
    FormSection* addSection(const QString& header = {});
    // Room below the form that the scroll area keeps free (for a line inset at the bottom).
    void setBottomInset(int points);
    // The space between two sections (18 unless set).
    void setSectionSpacing(int points);

private:
    QWidget* content_;
    QVBoxLayout* layout_;
};

class FormSection : public QWidget {
    Q_OBJECT
public:
    FormSection(const QString& header, QWidget* parent = nullptr);
    // Appends a row; rows after the first get a hairline above them.
    void addRow(QWidget* row);
    // Appends a row made of a horizontal layout.
    QWidget* addRow(QLayout* layout);
    // Appends a row of small explanatory text: as tall as its lines, not as a control row.
    void addFootnote(QLabel* note);
    const QString& header() const { return header_; }

private:
    QString header_;
    QWidget* box_;
    QVBoxLayout* rows_;
};

// A switch-style toggle without a label.
class SwitchToggle : public QAbstractButton {
    Q_OBJECT
public:
    explicit SwitchToggle(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {32, 18}; }

protected:
    void paintEvent(QPaintEvent*) override;
};

// A borderless button whose label is any row of widgets (the plain button style); the whole row
// is clickable and lightly tinted while pressed.
class PlainButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit PlainButton(QWidget* parent = nullptr);
    QHBoxLayout* row() const { return row_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QHBoxLayout* row_;
};

// A push button in the platform's default or prominent (filled, accent-coloured) style.
class PushButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit PushButton(const QString& text, bool prominent = false, QWidget* parent = nullptr);
    void setProminent(bool prominent);
    bool isProminent() const { return prominent_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    bool prominent_;
};

// Gives a vertical scroll bar the forms' look: a thin rounded thumb on a clear track, no arrow
// buttons.
void useThinScrollBar(QScrollBar* bar);

// A one-line text label in a font and colour.
QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent = nullptr);

}  // namespace vocalynx
