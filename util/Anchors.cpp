#include "util/Anchors.h"

#include <QEvent>
#include <QWidget>

Anchors::Anchors(QWidget* container, QSize designSize)
    : QObject(container), m_container(container), m_design(designSize)
{
    container->installEventFilter(this);
}

void Anchors::add(QWidget* widget, int sides)
{
    m_entries.append({widget, sides, widget->geometry()});
    apply();
}

void Anchors::setDesign(QWidget* widget, const QRect& place)
{
    for (Entry& e : m_entries) {
        if (e.widget == widget)
            e.design = place;
    }
}

void Anchors::apply()
{
    const int dw = m_container->width() - m_design.width();
    const int dh = m_container->height() - m_design.height();
    for (const Entry& e : m_entries) {
        QRect r = e.design;
        if ((e.sides & Left) && (e.sides & Right))
            r.setWidth(qMax(0, e.design.width() + dw));
        else if (e.sides & Right)
            r.moveLeft(e.design.left() + dw);
        if ((e.sides & Top) && (e.sides & Bottom))
            r.setHeight(qMax(0, e.design.height() + dh));
        else if (e.sides & Bottom)
            r.moveTop(e.design.top() + dh);
        e.widget->setGeometry(r);
    }
}

bool Anchors::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_container && event->type() == QEvent::Resize)
        apply();
    return QObject::eventFilter(watched, event);
}
