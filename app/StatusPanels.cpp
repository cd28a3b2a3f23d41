#include "app/StatusPanels.h"

#include <QLabel>
#include <QStringList>

StatusPanels::StatusPanels(int count, int panelWidth, QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("StatusBar1"));
    setFixedHeight(22);
    for (int i = 0; i < count; ++i) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setTextFormat(Qt::PlainText);
        label->setIndent(2);
        m_panels.append(label);
        m_widths.append(panelWidth);
        m_details.append(QString());
    }
    placePanels();
}

void StatusPanels::setPanelWidth(int index, int width)
{
    m_widths[index] = width;
    placePanels();
}

QString StatusPanels::text(int index) const
{
    return m_panels[index]->text();
}

void StatusPanels::setText(int index, const QString& text)
{
    m_panels[index]->setText(text);
    m_details[index].clear();
    updateToolTip(index);
}

void StatusPanels::setDetail(int index, const QString& detail)
{
    m_details[index] = detail;
    updateToolTip(index);
}

QString StatusPanels::detail(int index) const
{
    return m_details[index];
}

void StatusPanels::updateToolTip(int index)
{
    // A text wider than its panel is cut on screen; the whole of it stays
    // readable under the pointer, above what more there is to say about it.
    QLabel* panel = m_panels[index];
    const int room = panel->contentsRect().width() - 2 * panel->indent();
    const bool cut = panel->fontMetrics().horizontalAdvance(panel->text()) > room;
    QStringList tip;
    if (cut)
        tip << panel->text();
    if (!m_details[index].isEmpty())
        tip << m_details[index];
    panel->setToolTip(tip.join(QLatin1Char('\n')));
    panel->setAccessibleDescription(m_details[index]);
}

void StatusPanels::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    placePanels();
}

void StatusPanels::placePanels()
{
    int x = 0;
    for (int i = 0; i < m_panels.size(); ++i) {
        m_panels[i]->setGeometry(x, 0, m_widths[i], height());
        updateToolTip(i);
        x += m_widths[i];
    }
}
