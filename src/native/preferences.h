#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QSettings;

// The app's three stored preferences. Every write made through this object is followed by
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

signals:
    void changed();

private:
    std::unique_ptr<QSettings> m_settings;
};
