#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QSettings;

// The app's stored preferences and window layout. Every write of a preference is followed by
// changed(), the one change notification views and the model listen to.
class Preferences : public QObject {
    Q_OBJECT
public:
    // QSettings for organisation "Teodal", application "Calendar".
    explicit Preferences(QObject *parent = nullptr);
    // Tests pass their own settings (for example an INI file in a temporary folder).
    explicit Preferences(std::unique_ptr<QSettings> settings, QObject *parent = nullptr);
    ~Preferences() override;

    std::optional<QString> server() const;      // "native.server"
    void setServer(const QString &origin);
    QString timeZoneOverride() const;            // "calendar.timeZoneOverride", default empty
    void setTimeZoneOverride(const QString &zone);
    bool showMenuBar() const;                    // "calendar.showMenuBar", default true
    void setShowMenuBar(bool show);

    // The main window's layout between runs, as QWidget::saveGeometry and QSplitter::saveState
    // write it; empty until first stored. Stored without changed(): nobody reacts to the layout,
    // and every listener of changed() (the settings view, the tray, the zone check that may reload
    // the calendar) would otherwise run again at each drag of the splitter.
    QByteArray windowGeometry() const;           // "window.geometry"
    void setWindowGeometry(const QByteArray &geometry);
    QByteArray splitterState() const;            // "window.splitter"
    void setSplitterState(const QByteArray &state);

signals:
    void changed();

private:
    std::unique_ptr<QSettings> m_settings;
};
