#pragma once

#include <QHash>
#include <QStatusBar>

class QLabel;
class QTimer;

// A status bar of fixed-width text panels, addressed by key; date and time
// panels keep themselves current.
class QLocale;

class StatusPanels : public QStatusBar {
    Q_OBJECT
public:
    explicit StatusPanels(QWidget* parent = nullptr);

    void addTextPanel(const QString& key, const QString& text, int widthTwips);
    void addDatePanel(int widthTwips);
    void addTimePanel(int widthTwips);

    QString panelText(const QString& key) const;
    void setPanelText(const QString& key, const QString& text);
    void setPanelVisible(const QString& key, bool visible);
    QLabel* panel(const QString& key) const { return m_panels.value(key); }

    // The time panel's format: the locale's short time, hours and minutes.
    static QString hoursAndMinutes(const QLocale& locale);

private:
    QLabel* addPanel(int widthTwips);
    void refreshClock();

    QHash<QString, QLabel*> m_panels;
    QLabel* m_date = nullptr;
    QLabel* m_time = nullptr;
    QTimer* m_clockTimer;
};
