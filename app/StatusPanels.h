#pragma once

#include <QFrame>
#include <QVector>

class QLabel;

// The main window's status bar: a row of sunken text panels whose widths the
// window sets (panel 0 holds the proxy indicator picture).
class StatusPanels : public QFrame
{
    Q_OBJECT
public:
    StatusPanels(int count, int panelWidth, QWidget* parent = nullptr);

    int count() const { return int(m_panels.size()); }
    int panelWidth(int index) const { return m_widths[index]; }
    void setPanelWidth(int index, int width);
    QString text(int index) const;
    // A new text drops the detail of the old one.
    void setText(int index, const QString& text);
    // What more there is to say about a panel's text, shown under the
    // pointer and told to screen readers; empty for nothing.
    void setDetail(int index, const QString& detail);
    QString detail(int index) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placePanels();
    void updateToolTip(int index);

    QVector<QLabel*> m_panels;
    QVector<int> m_widths;
    QVector<QString> m_details;
};
