#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <QVector>

class QWidget;

// Keeps child widgets at fixed distances from the sides of their container
// that they are anchored to, as the window designs give them: a control
// anchored left and right grows with the container, one anchored right only
// moves with the right edge. Distances are taken from the widget's geometry
// against the container's design size.
class Anchors : public QObject
{
public:
    enum Side
    {
        Left = 1,
        Top = 2,
        Right = 4,
        Bottom = 8,
        All = 15
    };

    Anchors(QWidget* container, QSize designSize);

    void add(QWidget* widget, int sides);
    // New designed places: the container's size they are given for and
    // where `widget` (added before) is at that size. Applied by apply().
    void setDesignSize(QSize designSize) { m_design = designSize; }
    void setDesign(QWidget* widget, const QRect& place);
    // Re-applies the anchors to the container's current size.
    void apply();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry
    {
        QWidget* widget;
        int sides;
        QRect design;
    };
    QWidget* m_container;
    QSize m_design;
    QVector<Entry> m_entries;
};
